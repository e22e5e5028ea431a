// FakeServer: a scriptable HTTP/1.1 server on a free loopback port, standing in for a WebDAV server in tests.
//
// Real sockets: keep-alive connections, request bodies of a Content-Length (the engine sends no other kind),
// "Expect: 100-continue" answered. Each request is recorded and answered by the first of:
//   1. a reply scripted with on() for its method and exact request target (several replies for one route are
//      used in order, and the last one repeats);
//   2. for OPTIONS, 200 with "DAV: 1, 2" (so that a server probe finds a live WebDAV server);
//   3. the handler given to setHandler();
//   4. 404.
// A reply can be trickled one byte at a time (the head too, or only the body), cut off after some bytes, sent
// without a length, withheld until stop(), or made piece by piece while it is sent (a body too large to hold,
// or one without end).
//
// It speaks https when given a certificate.
//
// Thread-safe. stop() (also run by the destructor) stops listening, so that the port then refuses, ends every
// connection, waiting or not, and joins every thread: a test never hangs on the server.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "platform/url_session.h"
#include "support/temp_dir.h"

struct ssl_ctx_st;

namespace davfp::testing {

// A certificate and its private key, as PEM files.
struct Certificate {
  std::string file;
  std::string keyFile;
};

// A self-signed certificate for 127.0.0.1, made in dir by the distribution's openssl: nobody trusts it
// unless told to. Throws std::runtime_error with openssl's output when it cannot be made.
Certificate selfSignedCertificate(const TempDir& dir);

class Wire;  // one connection of the server

class FakeServer {
 public:
  // The pieces of a body made while it is sent: called again and again on the connection's thread until it
  // returns none.
  using Pieces = std::function<std::optional<std::string>()>;
  // Pieces that give each of these once, in order.
  static Pieces once(std::vector<std::string> pieces);

  struct Reply {
    int status = 200;
    platform::HeaderList headers;  // Content-Length is added unless given
    std::string body;
    std::optional<size_t> dropAfterBytes;       // close the connection after this many bytes of the response
    bool noAnswer = false;                      // read the request, never answer (until stop)
    std::chrono::milliseconds byteInterval{0};  // send the response one byte per interval
    bool headAtOnce = false;                    // with byteInterval: only the body trickles
    bool noLength = false;  // neither Content-Length nor chunks: the body ends where the connection closes
    Pieces pieces;  // the body instead of `body`: chunked unless a Content-Length is given or noLength
  };
  struct Received {
    std::string method, target;
    platform::HeaderList headers;
    std::string body;
    int connection = 0;  // 1 for the first connection accepted, 2 for the next...
    // The first header of that name, compared without regard to case.
    std::optional<std::string> header(std::string_view name) const;
  };
  // Listens on 127.0.0.1, on a free port; https with the certificate when given.
  explicit FakeServer(std::optional<Certificate> tls = std::nullopt);
  ~FakeServer();

  int port() const { return port_; }
  // "http://" (or "https://") + "127.0.0.1:PORT" + target.
  std::string url(std::string_view target = "/") const;

  void on(std::string method, std::string target, Reply reply);
  void setHandler(std::function<Reply(const Received&)> handler);

  std::vector<Received> requests() const;  // in arrival order
  void clearRequests();
  long connections() const;  // connections accepted so far
  // Blocks until at least n requests have arrived since the last clearRequests(); false after timeout.
  bool waitForRequests(size_t n, std::chrono::milliseconds timeout = std::chrono::seconds(30)) const;

  void stop();

 private:
  struct Route {
    std::vector<Reply> replies;
    size_t next = 0;  // replies added later follow the ones used, also once the last has repeated
  };

  void acceptLoop();
  void serve(int fd, int connection);
  Reply replyFor(const Received& request);
  // Sends the reply; false when the connection is to be closed afterwards.
  bool answer(Wire& client, const Received& request, const Reply& reply);
  // Waits for d, or less when the server stops; false when it stops.
  bool pause(std::chrono::milliseconds d);

  std::shared_ptr<ssl_ctx_st> tls_;
  int listenFd_ = -1;
  int port_ = 0;
  std::thread acceptThread_;
  std::mutex stopMu_;  // makes stop() run once at a time

  mutable std::mutex mu_;
  mutable std::condition_variable cv_;                           // signalled at stop and at each new request
  bool stopped_ = false;                                         // guarded by mu_
  std::map<std::pair<std::string, std::string>, Route> routes_;  // guarded by mu_
  std::function<Reply(const Received&)> handler_;                // guarded by mu_
  std::vector<Received> requests_;                               // guarded by mu_
  long connections_ = 0;                                         // guarded by mu_
  std::vector<int> openFds_;          // guarded by mu_: connections being served
  std::vector<std::thread> threads_;  // guarded by mu_: one per connection
};

}  // namespace davfp::testing
