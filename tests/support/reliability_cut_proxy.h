// CutProxy: a loopback TCP proxy in front of a server that dies on cue, as the server would if it were killed
// in the middle of an exchange: once armed, after a given number of bytes has passed in one direction it
// forwards nothing more, stops listening (new connections are refused) and closes every connection. For tests
// of servers that vanish in the middle of a download, an upload or a listing. Thread-safe; the destructor
// ends every connection and joins every thread.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace davfp::testing {

class CutProxy {
 public:
  enum class Direction { toServer, toClient };

  // Forwards every connection to 127.0.0.1:serverPort.
  explicit CutProxy(int serverPort);
  ~CutProxy();
  CutProxy(const CutProxy&) = delete;
  CutProxy& operator=(const CutProxy&) = delete;

  int port() const { return port_; }
  std::string url(std::string_view target = "/") const;  // "http://127.0.0.1:PORT" + target

  // After `bytes` more bytes in direction (over all connections), the proxy dies. onDeath runs once it no
  // longer listens and before any connection is closed, on the proxy's thread: what it does (publishing the
  // server elsewhere) is done by the time the client can notice.
  void cutAfter(Direction direction, uint64_t bytes, std::function<void()> onDeath = {});
  bool dead() const;

 private:
  void acceptLoop();
  void pump(int from, int to, Direction direction);
  // Stops listening, runs onDeath, closes every connection. Idempotent.
  void die();

  const int serverPort_;
  int listenFd_ = -1;
  int port_ = 0;
  std::thread acceptThread_;

  mutable std::mutex mu_;
  bool armed_ = false;             // guarded by mu_
  Direction direction_{};          // guarded by mu_
  uint64_t budget_ = 0;            // guarded by mu_: bytes still forwarded in direction_ while armed
  std::function<void()> onDeath_;  // guarded by mu_
  bool dead_ = false;              // guarded by mu_
  std::vector<int> fds_;           // guarded by mu_: every connection's descriptors, closed by the destructor
  std::vector<std::thread> pumps_;  // guarded by mu_
};

}  // namespace davfp::testing
