// StreamServer: a loopback HTTP/1.1 server whose answers are made piece by piece while they are sent, for
// bodies too large to hold in a test (a listing of gigabytes, a body without end). Every request gets the
// status that the answer function gives for it, its headers, the header "DAV: 1, 2" (so that a server probe
// finds a WebDAV server) and a body whose pieces the answer's piece function returns one after another (none
// ends the body): chunked, or without any length, ended by closing the connection (so that a body cut short
// cannot be told from a whole one). The server never holds more than one piece. Thread-safe; stop() (also run
// by the destructor) refuses new connections, ends the open ones and joins every thread.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace davfp::testing {

class StreamServer {
 public:
  // The pieces of one body, called again and again on the connection's thread until it returns none.
  using Pieces = std::function<std::optional<std::string>()>;
  struct Answer {
    int status = 200;
    Pieces pieces;  // none: an empty body
    std::vector<std::pair<std::string, std::string>> headers = {};
    bool closeDelimited = false;  // no length and no chunks: the connection closes after the body
  };
  // Called once per request with its method and target.
  using Respond = std::function<Answer(const std::string& method, const std::string& target)>;

  // Pieces that give each of these once, in order.
  static Pieces once(std::vector<std::string> pieces);

  explicit StreamServer(Respond respond);
  ~StreamServer();
  StreamServer(const StreamServer&) = delete;
  StreamServer& operator=(const StreamServer&) = delete;

  int port() const { return port_; }
  std::string url(std::string_view target = "/") const;  // "http://127.0.0.1:PORT" + target
  // Body bytes sent so far, over every request.
  uint64_t bytesSent() const { return sent_.load(); }

  void stop();

 private:
  void acceptLoop();
  void serve(int fd);

  const Respond respond_;
  int listenFd_ = -1;
  int port_ = 0;
  std::atomic<uint64_t> sent_{0};
  std::thread acceptThread_;

  std::mutex mu_;
  bool stopped_ = false;              // guarded by mu_
  std::vector<int> openFds_;          // guarded by mu_
  std::vector<std::thread> threads_;  // guarded by mu_
};

}  // namespace davfp::testing
