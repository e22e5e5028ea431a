// UrlSession: HTTP(S) transfers of one domain, on libcurl.
//
// One session per domain. All transfers of a session share the DNS and TLS session caches, and reuse each
// other's connections (an exchange takes over the connections of one that ended). Nothing is kept on disk.
// A request's timeout bounds two waits: the head of the response must be whole within it once the request
// has been sent (however the server spreads its bytes), and the body may then be silent (no bytes in either
// direction) for no longer; it never limits a body that keeps coming. Redirects are followed with method and
// body kept; a redirect to another origin is followed only for GET and PROPFIND, and without credentials;
// https never downgrades to http. TLS certificates are verified against the system's authorities, or those of
// the file that CURL_CA_BUNDLE or else SSL_CERT_FILE names when the session is made (as curl does).
// Credentials in the URL authenticate.
//
// At most kMaxConnections exchanges of a session run at once, so a session never holds more connections than
// that: a burst of requests reuses the same few connections, and the requests beyond the limit wait their
// turn (cancellably) before their transfer starts.
//
// Transport failures are thrown as Error in the URL-loading domain with the platform's codes: refused or
// unreachable -> kCannotConnectToHost, lost mid-exchange -> kNetworkConnectionLost, idle -> kTimedOut,
// unknown host -> kCannotFindHost, and so on; their cause names the request ("GET /dav/a") and what libcurl
// said. A transfer of a job that is cancelled ends at once with kCancelled. Every method may be called from
// any number of threads at once.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace davfp::platform {

using HeaderList = std::vector<std::pair<std::string, std::string>>;

struct HttpRequest {
  std::string method = "GET";
  std::string url;
  HeaderList headers;
  std::optional<std::string> body;      // the body; none sends no body
  std::optional<std::string> bodyFile;  // stream this file as the body instead
  // The timeout of this request (for its head, then for silence); none takes the session's.
  std::optional<std::chrono::milliseconds> timeout;
  // When given, the exchange, redirects included, fails with kTimedOut if it is not over by then.
  std::optional<std::chrono::steady_clock::time_point> deadline;
};

struct HttpResponse {
  long status = 0;
  std::string method;  // the method of the request that it answers, after redirects
  std::string url;     // the URL that answered, after redirects
  HeaderList headers;
  // The first header of that name, compared without regard to case.
  std::optional<std::string> header(std::string_view name) const;
};

class UrlSession {
 public:
  // How many exchanges of one session run at once: each holds one connection, which the next takes over.
  static constexpr long kMaxConnections = 16;

  explicit UrlSession(std::chrono::milliseconds requestTimeout = std::chrono::seconds(120));
  ~UrlSession();
  UrlSession(const UrlSession&) = delete;
  UrlSession& operator=(const UrlSession&) = delete;

  struct Data {
    HttpResponse response;
    std::string body;
  };
  // The whole response, whatever its status.
  Data data(const HttpRequest& request);

  // Streams the body: onResponse is called once with the head of the final response, then onBody with each
  // piece as it arrives. Returns the response. An exception thrown by a callback ends the transfer and is
  // rethrown. The callbacks run while the exchange holds one of the session's slots: they must not wait for
  // another exchange of the same session.
  HttpResponse stream(const HttpRequest& request, const std::function<void(const HttpResponse&)>& onResponse,
                      const std::function<void(std::string_view)>& onBody);

  // An exchange started now and finished later on the same thread, so that the caller can work while the
  // server answers: start() sends the request as far as the connection takes it at once (on a reused
  // connection, the whole request with a small body), finish() drives it to its end as stream() does,
  // redirects and authentication included. The callbacks run only inside start() and finish(), on the calling
  // thread; the idle timeout counts only while finish() runs. start() never throws: what keeps the exchange
  // from starting is thrown by finish(), so that failures arrive in the order of the exchanges. From start to
  // the end of finish() the exchange holds one of the session's slots (and so a connection); destroying it
  // unfinished ends its transfer at once. The session must outlive it. Not thread-safe.
  class Started {
   public:
    Started(Started&&) noexcept;
    Started& operator=(Started&&) noexcept;
    ~Started();
    // The final response, as stream() returns it, or what stream() would throw. Call once.
    HttpResponse finish();

   private:
    friend class UrlSession;
    struct State;
    explicit Started(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
  };
  Started start(const HttpRequest& request, std::function<void(const HttpResponse&)> onResponse,
                std::function<void(std::string_view)> onBody);

  struct Download {
    HttpResponse response;
    std::string file;  // a new file (mode 0600) holding the body, whatever the status; the caller owns it
    int64_t size = 0;  // the bytes of the body that arrived: the file's size
  };
  // Streams the body of the response into a new file in directory.
  Download download(const HttpRequest& request, const std::string& directory);

  // How many connections this session has opened so far.
  long connectionsOpened() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace davfp::platform
