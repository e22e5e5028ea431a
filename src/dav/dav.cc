// Server resolution: finding, probing and caching the base URL, and the frame every exchange runs in.
#include "dav/dav.h"

#include "dav/request.h"
#include "platform/error.h"
#include "platform/jobs.h"
#include "platform/url.h"
#include "state/drive_config.h"

namespace davfp {

std::shared_ptr<Dav> Dav::create(std::string domain, platform::Env& env, DavTimings timings) {
  return std::shared_ptr<Dav>(new Dav(std::move(domain), env, timings));
}

Dav::Dav(std::string domain, platform::Env& env, DavTimings timings)
    : domain_(std::move(domain)),
      env_(env),
      timings_(timings),
      session_(std::make_unique<platform::UrlSession>(timings.sessionTimeout)) {}

std::string Dav::base(const std::optional<std::string>& stale) {
  return server_.get(stale, [self = shared_from_this()] { return self->resolve(); });
}

std::string Dav::resolve() {
  if (auto url = published()) return *url;
  launchApp();
  for (int i = 0; i < timings_.polls; ++i) {
    if (!platform::sleepFor(timings_.pollInterval)) throw platform::Cancelled();
    if (auto url = published()) return *url;
  }
  throw DavError::unreachable();
}

std::optional<std::string> Dav::published() {
  auto drive = driveInfo(domain_, env_);
  if (!drive) return std::nullopt;
  auto url = platform::Url::parse(drive->url);
  if (!url || (url->scheme != "http" && url->scheme != "https") || url->host.empty()) return std::nullopt;
  if (!answers(drive->url)) return std::nullopt;
  return drive->url;
}

bool Dav::answers(const std::string& url) {
  platform::HttpRequest probe = request("OPTIONS", url);
  probe.timeout = timings_.probeTimeout;
  try {
    auto response = exchange(probe, false);
    return response.status >= 200 && response.status <= 299 && response.header("DAV").has_value();
  } catch (...) {
    // Any failure of the probe means the server does not answer.
    return false;
  }
}

void Dav::launchApp() {
  auto location = env_.applicationLocation(kAppBundleID);
  if (!location) return;
  env_.openApplication(*location, {"--login"});
}

bool Dav::gone(const std::string& base, std::exception_ptr error) {
  try {
    std::rethrow_exception(error);
  } catch (const platform::Error& e) {
    return isConnectionLost(e);
  } catch (const DavError& e) {
    if (e.kind() == DavError::Kind::notFound || e.isStatus(502)) return !answers(base);
    return false;
  } catch (...) {
    return false;
  }
}

platform::HttpRequest Dav::request(std::string_view method, std::string url) const {
  platform::HttpRequest r;
  r.method = std::string(method);
  r.url = std::move(url);
  r.timeout = timings_.requestTimeout;
  return r;
}

}  // namespace davfp
