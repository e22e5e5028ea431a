#include "support/reliability_cut_proxy.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace davfp::testing {

namespace {

sockaddr_in loopback(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port));
  return address;
}

bool sendAll(int fd, const char* data, size_t n) {
  while (n > 0) {
    ssize_t sent = ::send(fd, data, n, MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return false;
    data += sent;
    n -= static_cast<size_t>(sent);
  }
  return true;
}

}  // namespace

CutProxy::CutProxy(int serverPort) : serverPort_(serverPort) {
  listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address = loopback(0);
  socklen_t length = sizeof address;
  if (listenFd_ < 0 || ::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listenFd_, 64) != 0 ||
      ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    throw std::runtime_error(std::string("CutProxy: cannot listen: ") + std::strerror(errno));
  }
  port_ = ntohs(address.sin_port);
  acceptThread_ = std::thread([this] { acceptLoop(); });
}

CutProxy::~CutProxy() {
  {
    std::lock_guard guard(mu_);
    onDeath_ = nullptr;
  }
  die();
  acceptThread_.join();
  std::vector<std::thread> pumps;
  {
    std::lock_guard guard(mu_);
    pumps.swap(pumps_);
  }
  for (auto& pump : pumps) pump.join();
  for (int fd : fds_) ::close(fd);
  ::close(listenFd_);
}

std::string CutProxy::url(std::string_view target) const {
  return "http://127.0.0.1:" + std::to_string(port_) + std::string(target);
}

void CutProxy::cutAfter(Direction direction, uint64_t bytes, std::function<void()> onDeath) {
  std::lock_guard guard(mu_);
  armed_ = true;
  direction_ = direction;
  budget_ = bytes;
  onDeath_ = std::move(onDeath);
}

bool CutProxy::dead() const {
  std::lock_guard guard(mu_);
  return dead_;
}

void CutProxy::die() {
  std::function<void()> onDeath;
  {
    std::lock_guard guard(mu_);
    if (dead_) return;
    dead_ = true;
    onDeath = std::move(onDeath_);
  }
  // A listening socket that is shut down stops listening at once: connections are refused from here on.
  ::shutdown(listenFd_, SHUT_RDWR);
  if (onDeath) onDeath();
  std::lock_guard guard(mu_);
  for (int fd : fds_) ::shutdown(fd, SHUT_RDWR);
}

void CutProxy::acceptLoop() {
  for (;;) {
    int client = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      return;  // shut down
    }
    int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = loopback(serverPort_);
    std::lock_guard guard(mu_);
    fds_.push_back(client);
    if (server >= 0) fds_.push_back(server);
    if (dead_ || server < 0 ||
        ::connect(server, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      ::shutdown(client, SHUT_RDWR);
      continue;
    }
    pumps_.emplace_back([this, client, server] { pump(client, server, Direction::toServer); });
    pumps_.emplace_back([this, client, server] { pump(server, client, Direction::toClient); });
  }
}

void CutProxy::pump(int from, int to, Direction direction) {
  char buffer[16384];
  for (;;) {
    ssize_t n = ::recv(from, buffer, sizeof buffer, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    size_t forward = static_cast<size_t>(n);
    bool cut = false;
    {
      std::lock_guard guard(mu_);
      if (dead_) break;
      if (armed_ && direction_ == direction) {
        forward = static_cast<size_t>(std::min<uint64_t>(forward, budget_));
        budget_ -= forward;
        cut = budget_ == 0;
      }
    }
    if (forward > 0 && !sendAll(to, buffer, forward)) break;
    if (cut) {
      die();
      break;
    }
  }
  // The other side learns that this one ended, as it would from the server or the client themselves.
  ::shutdown(to, SHUT_WR);
}

}  // namespace davfp::testing
