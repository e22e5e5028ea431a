#include "dav/dav.h"

#include "dav/exchange.h"
#include "dav/multistatus.h"
#include "dav/request.h"
#include "platform/error.h"
#include "platform/request_body.h"
#include "platform/url.h"

namespace davfp {

namespace {

constexpr std::string_view kPropfindBody =
    "<?xml version=\"1.0\"?><D:propfind xmlns:D=\"DAV:\"><D:prop><D:resourcetype/><D:getcontentlength/>"
    "<D:getlastmodified/><D:getetag/></D:prop></D:propfind>";

// The base URL's path, percent-decoded: what listing entries are made relative to.
std::string basePathOf(const std::string& base) {
  auto url = platform::Url::parse(base);
  return url ? url->decodedPath() : std::string();
}

}  // namespace

std::shared_ptr<Dav> Dav::create(std::string domain, platform::Env& env, DavTimings timings) {
  return std::shared_ptr<Dav>(new Dav(std::move(domain), env, timings));
}

Dav::Dav(std::string domain, platform::Env& env, DavTimings timings)
    : domain_(std::move(domain)),
      env_(env),
      timings_(timings),
      session_(std::make_unique<platform::UrlSession>(timings.sessionTimeout)),
      discovery_(domain_, env, *session_, timings) {}

// --- The server frame ---

std::string Dav::base(const std::optional<std::string>& stale) {
  return server_.get(stale, [self = shared_from_this()] { return self->discovery_.resolve(); });
}

bool Dav::gone(const std::string& base, std::exception_ptr error) {
  try {
    std::rethrow_exception(error);
  } catch (const platform::Error& e) {
    return isConnectionLost(e);
  } catch (const DavError& e) {
    if (e.kind() == DavError::Kind::notFound || e.isStatus(502)) return !discovery_.answers(base);
    return false;
  } catch (...) {
    return false;
  }
}

template <class First, class Again>
auto Dav::retried(const std::string& first, First&& attempt, Again&& again) -> decltype(attempt()) {
  try {
    return attempt();
  } catch (...) {
    auto error = std::current_exception();
    if (!gone(first, error)) std::rethrow_exception(mapped(error));
  }
  std::string fresh;
  try {
    fresh = base(first);
  } catch (...) {
    std::rethrow_exception(mapped(std::current_exception()));
  }
  try {
    return again(fresh);
  } catch (...) {
    std::rethrow_exception(mapped(std::current_exception()));
  }
}

template <class Body>
auto Dav::withServer(Body&& body) -> decltype(body(std::string())) {
  std::string first = base(std::nullopt);
  return retried(first, [&] { return body(first); }, body);
}

platform::HttpRequest Dav::request(std::string_view method, std::string url) const {
  platform::HttpRequest r;
  r.method = std::string(method);
  r.url = std::move(url);
  r.timeout = timings_.requestTimeout;
  return r;
}

// --- The exchanges ---

std::string Dav::send(std::string_view method, std::string_view path, const platform::HeaderList& headers,
                      const std::optional<std::string>& body, Target target) {
  return withServer([&](const std::string& base) {
    platform::HttpRequest r = request(method, requestUrl(path, base, target == Target::collection));
    r.headers = headers;
    r.body = body;
    std::string answer;
    auto response = exchange(*session_, r, true, &answer);
    if (response.status == 207 && (method == "DELETE" || method == "MOVE")) {
      // Multi-Status to a DELETE or MOVE: the server kept or failed some member, so the request did not succeed.
      throw MultiStatusFailure(multiStatusFailure(answer, r.url).value_or(207));
    }
    return answer;
  });
}

platform::HttpRequest Dav::propfind(std::string_view path, int depth, const std::string& base) const {
  platform::HttpRequest r = request("PROPFIND", requestUrl(path, base, depth > 0));
  r.headers = {{"Depth", std::to_string(depth)}, {"Content-Type", "text/xml"}};
  r.body = std::string(kPropfindBody);
  return r;
}

std::vector<DavEntry> Dav::list(std::string_view path, int depth) { return listing(path, depth).entries(); }

Listing Dav::listingOn(std::string_view path, int depth, const std::string& base) {
  platform::HttpRequest r = propfind(path, depth, base);
  ListingReceiver receiver(basePathOf(base), path, depth);
  try {
    session_->stream(
        r, [](const platform::HttpResponse& response) { check(response); },
        [&](std::string_view bytes) {
          if (!receiver.take(bytes)) throw BodyEnded();
        });
  } catch (const BodyEnded&) {
    // The parser stopped: the listing is cut short, which taking its entries reports.
  }
  return receiver.listing();
}

Listing Dav::listing(std::string_view path, int depth) {
  return withServer([&](const std::string& base) { return listingOn(path, depth, base); });
}

Dav::StartedListing Dav::startListing(std::string_view path, int depth) {
  StartedListing started;
  started.dav_ = shared_from_this();
  started.path_ = std::string(path);
  started.depth_ = depth;
  try {
    started.base_ = base(std::nullopt);
    started.receiver_ = std::make_unique<ListingReceiver>(basePathOf(*started.base_), path, depth);
    started.started_.emplace(session_->start(
        propfind(path, depth, *started.base_), [](const platform::HttpResponse& response) { check(response); },
        [receiver = started.receiver_.get()](std::string_view bytes) {
          if (!receiver->take(bytes)) throw BodyEnded();
        }));
  } catch (...) {
    started.failure_ = std::current_exception();
  }
  return started;
}

Listing Dav::StartedListing::finish() {
  // As withServer(): a failure to find the server is thrown as it is; the exchange's failures are judged.
  if (!base_) std::rethrow_exception(failure_);
  return dav_->retried(
      *base_,
      [&] {
        if (failure_) std::rethrow_exception(failure_);
        try {
          started_->finish();
        } catch (const BodyEnded&) {
          // As in listingOn(): the listing is cut short, which taking its entries reports.
        }
        return receiver_->listing();
      },
      [&](const std::string& fresh) { return dav_->listingOn(path_, depth_, fresh); });
}

std::string Dav::download(std::string_view path, std::optional<int64_t> expectedSize) {
  return withServer([&](const std::string& base) {
    platform::HttpRequest r;
    r.method = "GET";
    r.url = requestUrl(path, base);
    auto got = session_->download(r, env_.temporaryDirectory());
    try {
      check(got.response);
      if (expectedSize && got.size != *expectedSize) {
        // A cut body: as when the transport sees the connection end early, and retried the same way.
        throw platform::Error(platform::kURLErrorDomain, platform::urlerr::kNetworkConnectionLost,
                              std::to_string(got.size) + " bytes downloaded where " +
                                  std::to_string(*expectedSize) + " were listed");
      }
    } catch (...) {
      try {
        env_.removeFile(got.file);
      } catch (...) {
        // The failed response's file is already gone or cannot be removed; the error matters more.
      }
      throw;
    }
    return got.file;
  });
}

int64_t Dav::upload(std::string_view path, const std::optional<std::string>& file) {
  return withServer([&](const std::string& base) {
    platform::HttpRequest r = request("PUT", requestUrl(path, base));
    int64_t size = 0;
    if (file) {
      // The transport sends the size the file has when it opens it, a moment later; a file that changes
      // meanwhile is sent as it then is, and shows as a difference from this size.
      size = platform::RequestBody::file(*file).size();
      r.bodyFile = *file;
    } else {
      r.body = std::string();
    }
    exchange(*session_, r, true);
    return size;
  });
}

void Dav::move(std::string_view from, std::string_view to, Target target) {
  withServer([&](const std::string& base) {
    bool collection = target == Target::collection;
    std::string destination = requestUrl(to, base, collection);
    // Credentials travel only where the transport puts them, never in a header.
    auto parsed = platform::Url::parse(destination);
    if (parsed) destination = parsed->withoutCredentials();
    platform::HttpRequest r = request("MOVE", requestUrl(from, base, collection));
    r.headers = {{"Destination", destination}, {"Overwrite", "F"}};
    std::string answer;
    try {
      if (exchange(*session_, r, true, &answer).status == 207) {
        throw MultiStatusFailure(multiStatusFailure(answer, r.url).value_or(207));
      }
    } catch (const DavError& e) {
      // A MOVE sent again after its connection broke finds its source gone when the server had done it
      // before the answer was lost; the transport itself sends a request again on a fresh connection when a
      // kept-alive one ends before any answer. So a missing source is looked into: when the destination is
      // there and the source is not, the move was done.
      if (e.kind() != DavError::Kind::notFound || !exists(to, base) || exists(from, base)) throw;
    }
    return 0;
  });
}

bool Dav::exists(std::string_view path, const std::string& base) {
  try {
    return !listingOn(path, 0, base).entries().empty();
  } catch (const DavError& e) {
    if (e.kind() == DavError::Kind::notFound) return false;
    throw;
  }
}

}  // namespace davfp
