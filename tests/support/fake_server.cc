#include "support/fake_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <strings.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace davfp::testing {

namespace {

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && ::strncasecmp(a.data(), b.data(), a.size()) == 0;
}

std::optional<std::string> find(const platform::HeaderList& headers, std::string_view name) {
  for (const auto& [key, value] : headers) {
    if (equalsIgnoringCase(key, name)) return value;
  }
  return std::nullopt;
}

std::string_view trimmed(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

bool sendAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

// Buffered reading of one connection's requests; each read is false when the connection ends first.
class Reader {
 public:
  explicit Reader(int fd) : fd_(fd) {}

  // The bytes up to the delimiter, which is consumed and not returned.
  bool until(std::string_view delimiter, std::string& out) {
    size_t end;
    while ((end = buffer_.find(delimiter)) == std::string::npos) {
      if (!fill()) return false;
    }
    out = buffer_.substr(0, end);
    buffer_.erase(0, end + delimiter.size());
    return true;
  }
  bool head(std::string& out) { return until("\r\n\r\n", out); }  // request line and header lines
  bool line(std::string& out) { return until("\r\n", out); }

  bool exactly(size_t n, std::string& out) {
    while (buffer_.size() < n) {
      if (!fill()) return false;
    }
    out.append(buffer_, 0, n);
    buffer_.erase(0, n);
    return true;
  }

 private:
  bool fill() {
    char chunk[16384];
    ssize_t n;
    while ((n = ::recv(fd_, chunk, sizeof chunk, 0)) < 0 && errno == EINTR) {
    }
    if (n <= 0) return false;
    buffer_.append(chunk, static_cast<size_t>(n));
    return true;
  }

  int fd_;
  std::string buffer_;
};

// Parses the head of a request into received; false when it is malformed.
bool parseHead(const std::string& head, FakeServer::Received& received, std::string& version) {
  size_t lineEnd = head.find("\r\n");
  std::string_view requestLine = std::string_view(head).substr(0, lineEnd);
  auto first = requestLine.find(' ');
  auto last = requestLine.rfind(' ');
  if (first == std::string_view::npos || first == last) return false;
  received.method = std::string(requestLine.substr(0, first));
  received.target = std::string(requestLine.substr(first + 1, last - first - 1));
  version = std::string(requestLine.substr(last + 1));
  while (lineEnd != std::string::npos) {
    size_t start = lineEnd + 2;
    lineEnd = head.find("\r\n", start);
    std::string_view field = std::string_view(head).substr(
        start, lineEnd == std::string::npos ? std::string::npos : lineEnd - start);
    auto colon = field.find(':');
    if (colon == std::string_view::npos) return false;
    received.headers.emplace_back(std::string(field.substr(0, colon)),
                                  std::string(trimmed(field.substr(colon + 1))));
  }
  return true;
}

// Reads a chunked body; false when the connection ends or the framing is malformed.
bool readChunked(Reader& reader, std::string& body) {
  for (;;) {
    std::string sizeLine;
    if (!reader.line(sizeLine)) return false;
    char* end = nullptr;
    unsigned long size = std::strtoul(sizeLine.c_str(), &end, 16);
    if (end == sizeLine.c_str()) return false;
    if (size == 0) {
      std::string trailer;
      do {
        if (!reader.line(trailer)) return false;
      } while (!trailer.empty());
      return true;
    }
    std::string crlf;
    if (!reader.exactly(size, body) || !reader.line(crlf) || !crlf.empty()) return false;
  }
}

}  // namespace

std::optional<std::string> FakeServer::Received::header(std::string_view name) const {
  return find(headers, name);
}

FakeServer::FakeServer() {
  listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listenFd_ < 0) throw std::runtime_error("FakeServer: socket failed");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  socklen_t length = sizeof address;
  if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listenFd_, 256) != 0 ||
      ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    ::close(listenFd_);
    throw std::runtime_error(std::string("FakeServer: cannot listen: ") + std::strerror(errno));
  }
  port_ = ntohs(address.sin_port);
  wakeFd_ = ::eventfd(0, EFD_CLOEXEC);
  if (wakeFd_ < 0) {
    ::close(listenFd_);
    throw std::runtime_error("FakeServer: eventfd failed");
  }
  acceptThread_ = std::thread([this] { acceptLoop(); });
}

FakeServer::~FakeServer() {
  stop();
  ::close(wakeFd_);
}

std::string FakeServer::url(std::string_view target) const {
  return "http://127.0.0.1:" + std::to_string(port_) + std::string(target);
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

void FakeServer::stop() {
  std::lock_guard stopping(stopMu_);
  {
    std::lock_guard guard(mu_);
    if (stopped_) return;
    stopped_ = true;
    // Wakes every connection thread out of its read; each closes its own descriptor.
    for (int fd : openFds_) ::shutdown(fd, SHUT_RDWR);
  }
  cv_.notify_all();
  uint64_t one = 1;
  (void)!::write(wakeFd_, &one, sizeof one);
  acceptThread_.join();
  ::close(listenFd_);
  std::vector<std::thread> threads;
  {
    std::lock_guard guard(mu_);
    threads.swap(threads_);
  }
  for (auto& thread : threads) thread.join();
}

void FakeServer::acceptLoop() {
  for (;;) {
    pollfd fds[2] = {{listenFd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0 && errno != EINTR) return;
    if (fds[1].revents != 0) return;
    if (fds[0].revents == 0) continue;
    int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    std::lock_guard guard(mu_);
    if (stopped_) {
      ::close(fd);
      return;
    }
    openFds_.push_back(fd);
    int connection = static_cast<int>(++connections_);
    threads_.emplace_back([this, fd, connection] { serve(fd, connection); });
  }
}

void FakeServer::serve(int fd, int connection) {
  Reader reader(fd);
  for (;;) {
    std::string head, version;
    Received received;
    received.connection = connection;
    if (!reader.head(head) || !parseHead(head, received, version)) break;

    auto expect = received.header("Expect");
    if (expect && equalsIgnoringCase(*expect, "100-continue") &&
        !sendAll(fd, "HTTP/1.1 100 Continue\r\n\r\n"))
      break;
    auto encoding = received.header("Transfer-Encoding");
    if (encoding && equalsIgnoringCase(*encoding, "chunked")) {
      if (!readChunked(reader, received.body)) break;
    } else if (auto length = received.header("Content-Length")) {
      if (!reader.exactly(std::strtoull(length->c_str(), nullptr, 10), received.body)) break;
    }
    auto connectionHeader = received.header("Connection");
    bool keepAlive = version == "HTTP/1.1"
                         ? !(connectionHeader && equalsIgnoringCase(*connectionHeader, "close"))
                         : connectionHeader && equalsIgnoringCase(*connectionHeader, "keep-alive");
    {
      std::lock_guard guard(mu_);
      requests_.push_back(received);
    }
    cv_.notify_all();

    Reply reply = replyFor(received);
    if (!answer(fd, received, reply) || !keepAlive) break;
  }
  {
    std::lock_guard guard(mu_);
    std::erase(openFds_, fd);
  }
  ::close(fd);
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

bool FakeServer::pause(std::chrono::milliseconds d) {
  std::unique_lock lock(mu_);
  return !cv_.wait_for(lock, d, [this] { return stopped_; });
}

bool FakeServer::answer(int fd, const Received& request, const Reply& reply) {
  if (reply.noAnswer) {
    std::unique_lock lock(mu_);
    cv_.wait(lock, [this] { return stopped_; });
    return false;
  }
  if (reply.delay.count() > 0 && !pause(reply.delay)) return false;

  bool bodiless = reply.status < 200 || reply.status == 204 || reply.status == 304;
  // Clients read the status code only; one reason phrase serves every status.
  std::string text = "HTTP/1.1 " + std::to_string(reply.status) + " Status\r\n";
  for (const auto& [name, value] : reply.headers) text += name + ": " + value + "\r\n";
  if (!bodiless && !reply.noLength && !find(reply.headers, "Content-Length") &&
      !find(reply.headers, "Transfer-Encoding")) {
    text += "Content-Length: " + std::to_string(reply.body.size()) + "\r\n";
  }
  const bool close = reply.closeAfter || reply.noLength;
  if (close) text += "Connection: close\r\n";
  text += "\r\n";
  if (request.method != "HEAD" && !bodiless) text += reply.body;
  if (reply.dropAfterBytes && *reply.dropAfterBytes < text.size()) text.resize(*reply.dropAfterBytes);

  if (reply.byteInterval.count() > 0) {
    size_t headEnd = text.find("\r\n\r\n");
    size_t head = headEnd == std::string::npos ? text.size() : headEnd + 4;
    if (reply.headAtOnce && !sendAll(fd, std::string_view(text).substr(0, head))) return false;
    for (size_t i = reply.headAtOnce ? head : 0; i < text.size(); ++i) {
      if (!sendAll(fd, std::string_view(text).substr(i, 1))) return false;
      if (i + 1 < text.size() && !pause(reply.byteInterval)) return false;
    }
  } else if (!sendAll(fd, text)) {
    return false;
  }
  return !reply.dropAfterBytes && !close;
}

}  // namespace davfp::testing
