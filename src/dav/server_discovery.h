// ServerDiscovery: finds where one domain's drive is served now. It reads the drive configuration that the
// host application publishes and probes the published address; when nothing answers there, it starts the
// host application and waits for the drive to appear. A server that answers the probe but refuses the
// credentials (401, 403) or cannot be trusted (TLS) ends the search at once: waiting would change nothing.
// Holds nothing that changes; any number of threads may use one at once. The session and the Env outlive it.
#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "dav/dav_timings.h"
#include "platform/env.h"
#include "platform/url_session.h"

namespace davfp {

class ServerDiscovery {
 public:
  ServerDiscovery(std::string domain, platform::Env& env, platform::UrlSession& session, DavTimings timings);

  // The base URL where the drive answers now. Throws DavError::unreachable() (with the reason of the last
  // look) when it does not answer in time or nothing can publish it, what probe() throws, and
  // platform::Cancelled when the calling job is cancelled while it waits.
  std::string resolve();
  // True when something answers at url: a WebDAV server, or one that refuses the credentials or the TLS.
  bool answers(const std::string& url);

 private:
  using Deadline = std::optional<std::chrono::steady_clock::time_point>;
  // What a look at the published drive found: its URL when it answers; otherwise whether drives.json lists
  // it, and why it was not taken.
  struct Published {
    std::optional<std::string> url;
    bool listed = false;
    std::string why;
  };

  // Throws what probe() throws.
  Published published(Deadline deadline);
  // Probes url with OPTIONS, the probe ending by deadline when given: empty when a WebDAV server answers
  // there, else why not. Throws when the answer proves that the address is live but not usable as it is:
  // DavError::notAuthenticated() for 401, forbidden() for 403, the URL-loading error of a failed TLS
  // handshake.
  std::string probe(const std::string& url, Deadline deadline);
  // False when no host application is installed.
  bool launchApp();

  const std::string domain_;
  platform::Env& env_;
  platform::UrlSession& session_;
  const DavTimings timings_;
};

}  // namespace davfp
