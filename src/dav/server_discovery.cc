#include "dav/server_discovery.h"

#include <algorithm>

#include "dav/dav_error.h"
#include "dav/drive_config.h"
#include "dav/exchange.h"
#include "dav/request.h"
#include "platform/app_identity.h"
#include "platform/error.h"
#include "platform/http_urls.h"
#include "platform/jobs.h"
#include "platform/url.h"

namespace davfp {

ServerDiscovery::ServerDiscovery(std::string domain, platform::Env& env, platform::UrlSession& session,
                                 DavTimings timings)
    : domain_(std::move(domain)), env_(env), session_(session), timings_(timings) {}

std::string ServerDiscovery::resolve() {
  Published found = published(std::nullopt);
  if (found.url) return *found.url;
  // A drive that is not published and that no host application can publish is not worth waiting for.
  if (!launchApp() && !found.listed) {
    throw DavError::unreachable().because(found.why + ", and no host application is installed to publish it");
  }
  // However slow each probe is, the wait ends in time: every sleep and probe ends by then.
  const auto end = env_.now() + timings_.launchWait;
  for (int i = 0; i < timings_.polls; ++i) {
    auto left = std::chrono::ceil<std::chrono::milliseconds>(end - env_.now());
    if (left.count() <= 0) break;
    if (!env_.sleepFor(std::min(timings_.pollInterval, left))) throw platform::Cancelled();
    if (env_.now() >= end) break;
    found = published(end);
    if (found.url) return *found.url;
  }
  throw DavError::unreachable().because(found.why);
}

ServerDiscovery::Published ServerDiscovery::published(Deadline deadline) {
  Published found;
  auto drive = driveInfo(domain_, env_);
  if (!drive) {
    found.why = "the drive is not published";
    return found;
  }
  found.listed = true;
  auto url = platform::Url::parse(drive->url);
  if (!url || (url->scheme() != "http" && url->scheme() != "https")) {
    found.why = "the drive's published address is not an http or https URL";
    return found;
  }
  found.why = probe(drive->url, deadline);
  if (found.why.empty()) found.url = drive->url;
  return found;
}

std::string ServerDiscovery::probe(const std::string& url, Deadline deadline) {
  platform::HttpRequest options;
  options.method = "OPTIONS";
  options.url = url;
  options.timeout = timings_.probeTimeout;
  options.deadline = deadline;
  platform::HttpResponse response;
  try {
    response = exchange(session_, options, false);
  } catch (const platform::Error& e) {
    bool tls = e.domain() == platform::kURLErrorDomain &&
               (e.code() == platform::urlerr::kServerCertificateUntrusted ||
                e.code() == platform::urlerr::kSecureConnectionFailed);
    if (tls) throw;
    return causeOf(e);
  } catch (...) {
    // Any other failure of the probe means the server does not answer.
    return platform::requestLine("OPTIONS", url) + ": failed";
  }
  const long status = response.status;
  std::string answered = platform::requestLine("OPTIONS", response.url.empty() ? url : response.url) +
                         ": HTTP " + std::to_string(status);
  if (status == 401) throw DavError::notAuthenticated().because(std::move(answered));
  if (status == 403) throw DavError::forbidden().because(std::move(answered));
  if (status < 200 || status > 299) return answered;
  if (!response.header("DAV")) return answered + " without a DAV header";
  return {};
}

bool ServerDiscovery::answers(const std::string& url) {
  try {
    return probe(url, std::nullopt).empty();
  } catch (...) {
    return true;  // it answers, though not to these credentials or not over a trusted connection
  }
}

bool ServerDiscovery::launchApp() {
  auto location = env_.applicationLocation(platform::kAppBundleID);
  if (!location) return false;
  env_.openApplication(*location, {"--login"});
  return true;
}

}  // namespace davfp
