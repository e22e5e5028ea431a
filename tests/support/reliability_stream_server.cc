#include "support/reliability_stream_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <stdexcept>

namespace davfp::testing {

namespace {

bool sendAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

// The value of a header in a request head, by lower-case name; empty when absent.
std::string headerValue(const std::string& head, const std::string& lowerName) {
  std::string lowered = head;
  for (char& c : lowered) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  size_t at = lowered.find("\r\n" + lowerName + ":");
  if (at == std::string::npos) return {};
  size_t start = at + 3 + lowerName.size();
  size_t end = head.find("\r\n", start);
  std::string value = head.substr(start, end - start);
  while (!value.empty() && value.front() == ' ') value.erase(0, 1);
  return value;
}

}  // namespace

StreamServer::Pieces StreamServer::once(std::vector<std::string> pieces) {
  auto next = std::make_shared<size_t>(0);
  return [pieces = std::move(pieces), next]() -> std::optional<std::string> {
    if (*next == pieces.size()) return std::nullopt;
    return pieces[(*next)++];
  };
}

StreamServer::StreamServer(Respond respond) : respond_(std::move(respond)) {
  listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (listenFd_ < 0 || ::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listenFd_, 64) != 0 ||
      ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    throw std::runtime_error(std::string("StreamServer: cannot listen: ") + std::strerror(errno));
  }
  port_ = ntohs(address.sin_port);
  acceptThread_ = std::thread([this] { acceptLoop(); });
}

StreamServer::~StreamServer() { stop(); }

std::string StreamServer::url(std::string_view target) const {
  return "http://127.0.0.1:" + std::to_string(port_) + std::string(target);
}

void StreamServer::stop() {
  {
    std::lock_guard guard(mu_);
    if (stopped_) return;
    stopped_ = true;
    for (int fd : openFds_) ::shutdown(fd, SHUT_RDWR);
  }
  // A listening socket that is shut down stops listening and wakes its accept().
  ::shutdown(listenFd_, SHUT_RDWR);
  acceptThread_.join();
  ::close(listenFd_);
  std::vector<std::thread> threads;
  {
    std::lock_guard guard(mu_);
    threads.swap(threads_);
  }
  for (auto& thread : threads) thread.join();
}

void StreamServer::acceptLoop() {
  for (;;) {
    int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    std::lock_guard guard(mu_);
    if (stopped_) {
      if (fd >= 0) ::close(fd);
      return;
    }
    if (fd < 0) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      return;
    }
    openFds_.push_back(fd);
    threads_.emplace_back([this, fd] { serve(fd); });
  }
}

void StreamServer::serve(int fd) {
  std::string buffer;
  char chunk[16384];
  for (bool open = true; open;) {
    size_t end;
    while ((end = buffer.find("\r\n\r\n")) == std::string::npos) {
      ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
      if (n <= 0) {
        open = false;
        break;
      }
      buffer.append(chunk, static_cast<size_t>(n));
    }
    if (!open) break;
    std::string head = buffer.substr(0, end);
    buffer.erase(0, end + 4);
    size_t length = std::strtoull(headerValue(head, "content-length").c_str(), nullptr, 10);
    while (buffer.size() < length) {
      ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
      if (n <= 0) {
        open = false;
        break;
      }
      buffer.append(chunk, static_cast<size_t>(n));
    }
    if (!open) break;
    buffer.erase(0, length);

    std::string method = head.substr(0, head.find(' '));
    size_t targetStart = method.size() + 1;
    std::string target = head.substr(targetStart, head.find(' ', targetStart) - targetStart);
    Answer answer = respond_(method, target);
    if (!answer.pieces) answer.pieces = [] { return std::nullopt; };
    std::string answerHead = "HTTP/1.1 " + std::to_string(answer.status) + " Status\r\nDAV: 1, 2\r\n";
    bool typed = false;
    for (const auto& [name, value] : answer.headers) {
      answerHead += name + ": " + value + "\r\n";
      typed = typed || name == "Content-Type";
    }
    if (!typed) answerHead += "Content-Type: application/xml\r\n";
    answerHead += answer.closeDelimited ? "Connection: close\r\n\r\n" : "Transfer-Encoding: chunked\r\n\r\n";
    open = sendAll(fd, answerHead);
    Pieces& pieces = answer.pieces;
    while (open) {
      std::optional<std::string> piece = pieces();
      if (!piece) break;
      if (piece->empty()) continue;
      if (answer.closeDelimited) {
        open = sendAll(fd, *piece);
      } else {
        char size[32];
        std::snprintf(size, sizeof size, "%zx\r\n", piece->size());
        open = sendAll(fd, size) && sendAll(fd, *piece) && sendAll(fd, "\r\n");
      }
      if (open) sent_ += piece->size();
    }
    if (answer.closeDelimited) break;  // the body ends where the connection does
    open = open && sendAll(fd, "0\r\n\r\n");
  }
  {
    std::lock_guard guard(mu_);
    std::erase(openFds_, fd);
  }
  ::close(fd);
}

}  // namespace davfp::testing
