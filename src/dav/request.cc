#include "dav/request.h"

#include <algorithm>

#include "dav/dav_error.h"
#include "platform/http_urls.h"
#include "platform/url.h"

namespace davfp {

namespace {

// RFC 3986 pchar plus "/", without ";" (and without "?" and "#", which pchar never holds). "%" is not in the
// set, so a literal percent sign is always sent as %25.
bool isPathSegmentChar(unsigned char c) {
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
  return std::string_view("-._~!$&'()*+,=:@/").find(static_cast<char>(c)) != std::string_view::npos;
}

}  // namespace

std::string requestUrl(std::string_view path, std::string_view base, bool collection) {
  std::string joined;
  // Past the leading "/", every component counts, an empty one too: see the header.
  std::string_view rest = path.starts_with('/') ? path.substr(1) : path;
  const bool root = rest.empty();
  while (!root) {
    size_t end = rest.find('/');
    std::string_view piece = rest.substr(0, end);
    if (piece.empty() || piece == "." || piece == "..") throw DavError::status(400);
    if (!joined.empty()) joined += '/';
    joined += platform::percentEncode(piece, isPathSegmentChar);
    if (end == std::string_view::npos) break;
    rest.remove_prefix(end + 1);
  }

  std::string url(base);
  if (!url.ends_with('/')) url += '/';
  url += joined;
  if (collection && !root) url += '/';
  // The pieces are encoded, so a query or fragment here comes from the base, and the path would land inside
  // it: the request would go to the base itself (a DELETE of one file would delete the whole tree).
  auto parsed = platform::Url::parse(url);
  if (!parsed || parsed->query() || parsed->fragment()) throw DavError::status(400);
  return url;
}

void check(const platform::HttpResponse& response) {
  long status = response.status;
  if (status == 0 || (status >= 200 && status <= 299)) return;
  std::string cause =
      platform::requestLine(response.method, response.url) + ": HTTP " + std::to_string(status);
  if (status == 401 || status == 403) throw DavError::forbidden().because(std::move(cause));
  if (status == 404) throw DavError::notFound().because(std::move(cause));
  throw DavError::status(static_cast<int>(status)).because(std::move(cause));
}

std::string causeOf(const platform::Error& e) { return e.cause().empty() ? e.message() : e.cause(); }

bool isConnectionLost(const std::exception& e) {
  auto error = dynamic_cast<const platform::Error*>(&e);
  if (!error || error->domain() != platform::kURLErrorDomain) return false;
  return std::find(kConnectionLost.begin(), kConnectionLost.end(), error->code()) != kConnectionLost.end();
}

std::exception_ptr mapped(std::exception_ptr e) {
  if (!e) return e;
  try {
    std::rethrow_exception(e);
  } catch (const platform::Error& error) {
    if (isConnectionLost(error))
      return std::make_exception_ptr(DavError::unreachable().because(causeOf(error)));
  } catch (...) {
    // Not a platform error, so not a lost connection: passed on unchanged below.
  }
  return e;
}

}  // namespace davfp
