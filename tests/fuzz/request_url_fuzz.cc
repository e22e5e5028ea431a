// Fuzzes the request URL of a server path. An input is "BASE\nPATH" when it has a line break within its
// first 513 bytes, else a path on a fixed base URL; whether the URL names a collection is drawn from the
// input. Checks that a returned URL
//   - begins with the base URL and holds, after it, one segment per component of the path (past a leading
//     "/"), each percent-decoding to that component, and never a "." or ".." segment (escaped or not);
//   - is a valid URL without query or fragment;
//   - on a base URL that the client accepts (http or https with a host) addresses that server, with the
//     components in the path under the base URL's path;
// that the only error is status 400, for a "." or ".." component, an empty one in a path other than the root
// (a doubled or trailing "/" would address something else than the path names), a base URL that is no URL,
// or one with a query or fragment (which would take the path in).
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "dav/dav_error.h"
#include "dav/request.h"
#include "fuzz_support.h"
#include "platform/url.h"

namespace davfp::fuzz {
namespace {

constexpr std::string_view kDefaultBase = "http://127.0.0.1:8080/dav";

// The components between "/"s, empty ones too.
std::vector<std::string_view> split(std::string_view s) {
  std::vector<std::string_view> out;
  for (size_t i = 0, end = 0; end != std::string_view::npos; i = end + 1) {
    end = s.find('/', i);
    out.push_back(s.substr(i, end == std::string_view::npos ? end : end - i));
  }
  return out;
}

// Percent-decodes to raw bytes; none for a malformed escape.
std::optional<std::string> decode(std::string_view s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    unsigned value = static_cast<unsigned char>(s[i]);
    if (s[i] == '%') {
      std::string_view hex = s.substr(i + 1, 2);
      auto end = hex.data() + hex.size();
      if (hex.size() < 2 || std::from_chars(hex.data(), end, value, 16).ptr != end) return std::nullopt;
      i += 2;
    }
    out += static_cast<char>(value);
  }
  return out;
}

bool isDotSegment(std::string_view s) { return s == "." || s == ".."; }

// The base URLs that server resolution accepts and that a path can be appended to.
std::optional<platform::Url> usableBase(std::string_view base) {
  auto url = platform::Url::parse(base);
  if (!url || (url->scheme() != "http" && url->scheme() != "https")) return std::nullopt;
  // A "?" or "#" begins a query or fragment, an empty one too, which the path would land in.
  if (base.find_first_of("?#") != std::string_view::npos) return std::nullopt;
  return url;
}

}  // namespace
}  // namespace davfp::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace davfp;
  using namespace davfp::fuzz;
  std::string_view input(reinterpret_cast<const char*>(data), size);
  std::string_view base = kDefaultBase, path = input;
  if (size_t eol = input.substr(0, 513).find('\n'); eol != std::string_view::npos) {
    base = input.substr(0, eol);
    path = input.substr(eol + 1);
  }
  InputRandom random(input);
  bool collection = random.flip();
  std::string context = "base " + printable(base) + "\npath " + printable(path) +
                        (collection ? "\ncollection" : "\nnot a collection");


  // The root ("/" or empty) has no component; any other path has one between each "/" after a leading one.
  std::string_view rest = path.starts_with('/') ? path.substr(1) : path;
  std::vector<std::string_view> pieces = rest.empty() ? std::vector<std::string_view>{} : split(rest);
  bool badPiece = false;
  for (auto piece : pieces) badPiece = badPiece || piece.empty() || isDotSegment(piece);
  std::optional<platform::Url> usable = usableBase(base);

  std::string url;
  try {
    url = requestUrl(path, base, collection);
  } catch (const DavError& e) {
    FUZZ_CHECK(e.isStatus(400), context + "\nthrew " + e.what());
    FUZZ_CHECK(badPiece || !usable, context + "\nrefused");
    return 0;
  }
  context += "\nurl  " + printable(url);
  FUZZ_CHECK(!badPiece, context);
  std::optional<platform::Url> parsed = platform::Url::parse(url);
  FUZZ_CHECK(parsed && !parsed->query() && !parsed->fragment(), context);

  FUZZ_CHECK(url.starts_with(base), context);
  std::string_view suffix = std::string_view(url).substr(base.size());
  if (!base.ends_with('/')) {
    FUZZ_CHECK(suffix.starts_with('/'), context);
    suffix.remove_prefix(1);
  }
  if (pieces.empty()) {
    FUZZ_CHECK(suffix.empty(), context);
  } else {
    if (collection) {
      FUZZ_CHECK(suffix.ends_with('/'), context);
      suffix.remove_suffix(1);
    }
    std::vector<std::string_view> segments = split(suffix);
    FUZZ_CHECK(segments.size() == pieces.size(), context);
    for (size_t i = 0; i < segments.size(); ++i) {
      std::optional<std::string> decoded = decode(segments[i]);
      FUZZ_CHECK(decoded && *decoded == pieces[i], context + "\nsegment " + printable(segments[i]));
      FUZZ_CHECK(!isDotSegment(segments[i]) && !isDotSegment(*decoded), context);
    }
  }

  if (usable) {
    FUZZ_CHECK(parsed->origin() == usable->origin() && parsed->user() == usable->user() &&
                   parsed->password() == usable->password(),
               context);
    std::string expectedPath = usable->path();
    if (!expectedPath.ends_with('/')) expectedPath += '/';
    expectedPath += suffix;
    if (collection && !pieces.empty()) expectedPath += '/';
    FUZZ_CHECK(parsed->path() == expectedPath, context + "\nits path " + printable(parsed->path()));
  }
  return 0;
}
