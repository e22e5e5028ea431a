#include "support/fake_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <utility>

#include "support/fake_server_wire.h"

namespace davfp::testing {

using wire::Connection;
using wire::Reader;

namespace {

sockaddr_in loopback(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port));
  return address;
}

// The size line that begins a chunk of n bytes.
std::string chunkSize(size_t n) {
  char line[32];
  std::snprintf(line, sizeof line, "%zx\r\n", n);
  return line;
}

}  // namespace

FakeServer::Pieces FakeServer::once(std::vector<std::string> pieces) {
  auto next = std::make_shared<size_t>(0);
  return [pieces = std::move(pieces), next]() -> std::optional<std::string> {
    if (*next == pieces.size()) return std::nullopt;
    return pieces[(*next)++];
  };
}

std::optional<std::string> FakeServer::Received::header(std::string_view name) const {
  return wire::find(headers, name);
}

FakeServer::FakeServer(Options options) : options_(std::move(options)) {
  if (options_.tls) tls_ = wire::tlsContext(*options_.tls);
  listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address = loopback(0);
  socklen_t length = sizeof address;
  if (listenFd_ < 0 || ::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listenFd_, 256) != 0 ||
      ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    int error = errno;
    if (listenFd_ >= 0) ::close(listenFd_);
    throw std::runtime_error(std::string("FakeServer: cannot listen: ") + std::strerror(error));
  }
  port_ = ntohs(address.sin_port);
  acceptThread_ = std::thread([this] { acceptLoop(); });
}

FakeServer::~FakeServer() {
  stop();
  ::close(listenFd_);
}

std::string FakeServer::url(std::string_view target, std::string_view userinfo) const {
  return (tls_ ? "https://" : "http://") + std::string(userinfo) + "127.0.0.1:" + std::to_string(port_) +
         std::string(target);
}

void FakeServer::on(std::string method, std::string target, Reply reply) {
  std::lock_guard guard(mu_);
  routes_[{std::move(method), std::move(target)}].replies.push_back(std::move(reply));
}

void FakeServer::setHandler(std::function<Reply(const Received&)> handler) {
  std::lock_guard guard(mu_);
  handler_ = std::move(handler);
}

std::vector<FakeServer::Received> FakeServer::requests() const {
  std::lock_guard guard(mu_);
  return requests_;
}

void FakeServer::clearRequests() {
  std::lock_guard guard(mu_);
  requests_.clear();
}

long FakeServer::connections() const {
  std::lock_guard guard(mu_);
  return connections_;
}

bool FakeServer::waitForRequests(size_t n, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mu_);
  return cv_.wait_for(lock, timeout, [&] { return requests_.size() >= n; });
}

void FakeServer::end() {
  {
    std::lock_guard guard(mu_);
    if (std::exchange(stopped_, true)) return;
  }
  cv_.notify_all();
  // A listening socket that is shut down stops listening at once: connections are refused from here on, and
  // the accept loop wakes.
  ::shutdown(listenFd_, SHUT_RDWR);
  // Wakes every connection thread out of its read or write; each closes its own descriptor.
  std::lock_guard guard(mu_);
  for (int fd : openFds_) ::shutdown(fd, SHUT_RDWR);
}

void FakeServer::stop() {
  std::lock_guard stopping(stopMu_);
  end();
  if (acceptThread_.joinable()) acceptThread_.join();
  std::vector<std::thread> threads;
  {
    std::lock_guard guard(mu_);
    threads.swap(threads_);
  }
  for (auto& thread : threads) thread.join();
}

void FakeServer::acceptLoop() {
  // A write to a connection that the client has closed raises SIGPIPE in the writing thread (a TLS write
  // cannot ask otherwise): blocked here and in the connection threads, which inherit the mask, it is a failed
  // write.
  sigset_t pipe;
  ::sigemptyset(&pipe);
  ::sigaddset(&pipe, SIGPIPE);
  ::pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
  for (;;) {
    int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    std::lock_guard guard(mu_);
    if (stopped_) {
      if (fd >= 0) ::close(fd);
      return;
    }
    if (fd < 0) continue;
    openFds_.push_back(fd);
    int connection = static_cast<int>(++connections_);
    threads_.emplace_back([this, fd, connection] { serve(fd, connection); });
  }
}

void FakeServer::serve(int fd, int connection) {
  Connection client(fd);
  if (!tls_ || client.acceptTls(tls_.get())) {
    Reader reader(client);
    for (;;) {
      std::string head, version;
      Received received;
      received.connection = connection;
      if (!reader.head(head) || !wire::parseRequest(head, received, version)) break;
      auto connectionHeader = received.header("Connection");
      bool keepAlive = version == "HTTP/1.1"
                           ? !(connectionHeader && wire::equalsIgnoringCase(*connectionHeader, "close"))
                           : connectionHeader && wire::equalsIgnoringCase(*connectionHeader, "keep-alive");
      if (!receiveBody(client, reader, received)) break;
      {
        std::lock_guard guard(mu_);
        requests_.push_back(received);
      }
      cv_.notify_all();
      if (!answer(client, received, replyFor(received)) || !keepAlive) break;
    }
  }
  std::lock_guard guard(mu_);
  std::erase(openFds_, fd);
}

bool FakeServer::receiveBody(Connection& client, Reader& reader, Received& request) {
  if (wire::headerIs(request.headers, "Expect", "100-continue") &&
      !send(client, "HTTP/1.1 100 Continue\r\n\r\n")) {
    return false;
  }
  return wire::readBody(reader, request.headers, request.body);
}

FakeServer::Reply FakeServer::replyFor(const Received& request) {
  std::function<Reply(const Received&)> handler;
  {
    std::lock_guard guard(mu_);
    auto route = routes_.find({request.method, request.target});
    if (route != routes_.end()) {
      Route& r = route->second;
      Reply reply = r.replies[std::min(r.next, r.replies.size() - 1)];
      ++r.next;
      return reply;
    }
    if (request.method == "OPTIONS") return Reply{.status = 200, .headers = {{"DAV", "1, 2"}}};
    handler = handler_;
  }
  if (handler) return handler(request);
  return Reply{.status = 404};
}

bool FakeServer::send(Connection& connection, std::string_view bytes) {
  {
    std::lock_guard guard(mu_);
    if (stopped_) return false;
  }
  return connection.sendAll(bytes);
}

bool FakeServer::pause(std::chrono::milliseconds d) {
  std::unique_lock lock(mu_);
  return !cv_.wait_for(lock, d, [this] { return stopped_; });
}

bool FakeServer::answer(Connection& client, const Received& request, const Reply& reply) {
  if (reply.noAnswer) {
    std::unique_lock lock(mu_);
    cv_.wait(lock, [this] { return stopped_; });
    return false;
  }
  if (reply.delay.count() > 0 && !pause(reply.delay)) return false;

  const bool bodiless = reply.status < 200 || reply.status == 204 || reply.status == 304;
  const bool sized = wire::find(reply.headers, "Content-Length").has_value();
  const bool encoded = wire::find(reply.headers, "Transfer-Encoding").has_value();
  const bool chunked = reply.pieces && !sized && !reply.noLength && !bodiless;
  const bool close = reply.closeAfter || reply.noLength;
  const bool ends = close || reply.dropAfterBytes;  // the connection ends after the reply
  // Clients read the status code only; one reason phrase serves every status.
  std::string head = "HTTP/1.1 " + std::to_string(reply.status) + " Status\r\n";
  for (const auto& [name, value] : reply.headers) head += name + ": " + value + "\r\n";
  if (chunked && !encoded) head += "Transfer-Encoding: chunked\r\n";
  if (!bodiless && !reply.pieces && !reply.noLength && !sized && !encoded) {
    head += "Content-Length: " + std::to_string(reply.body.size()) + "\r\n";
  }
  if (close && !wire::find(reply.headers, "Connection")) head += "Connection: close\r\n";
  head += "\r\n";

  size_t sent = 0;    // bytes of this reply so far, for dropAfterBytes
  bool first = true;  // of the bytes that trickle: no pause before it
  // Sends the reply's next bytes, at once or trickling; false when the connection ended or is to be cut.
  auto emit = [&](std::string_view bytes, bool atOnce) {
    const size_t drop = reply.dropAfterBytes.value_or(SIZE_MAX);
    bytes = bytes.substr(0, drop - std::min(sent, drop));
    sent += bytes.size();
    if (atOnce || reply.byteInterval.count() == 0) return send(client, bytes) && sent < drop;
    for (char c : bytes) {
      if (!std::exchange(first, false) && !pause(reply.byteInterval)) return false;
      if (!send(client, std::string_view(&c, 1))) return false;
    }
    return sent < drop;
  };
  bool open = emit(head, reply.headAtOnce);
  if (!open || request.method == "HEAD" || bodiless) return open && !ends;
  if (!reply.pieces) {
    open = emit(reply.body, false);
    if (open) bodyBytes_ += reply.body.size();
    return open && !ends;
  }
  while (open) {
    std::optional<std::string> piece = reply.pieces();
    if (!piece) break;
    if (piece->empty()) continue;
    open = (!chunked || emit(chunkSize(piece->size()), false)) && emit(*piece, false) &&
           (!chunked || emit("\r\n", false));
    if (open) bodyBytes_ += piece->size();
  }
  return open && (!chunked || emit("0\r\n\r\n", false)) && !ends;
}

}  // namespace davfp::testing
