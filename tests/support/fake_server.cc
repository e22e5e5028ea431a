#include "support/fake_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <utility>

#include "platform/http_head.h"
#include "support/host_process.h"

namespace davfp::testing {

namespace {

using platform::findHeader;

bool is(const std::optional<std::string>& value, std::string_view expected) {
  return value && platform::equalsIgnoringCase(*value, expected);
}

std::string_view trimmed(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// A request head: "METHOD target VERSION" and header lines; false when it is malformed.
bool parseRequest(std::string_view head, FakeServer::Received& request, std::string& version) {
  size_t end = std::min(head.find("\r\n"), head.size());
  std::string_view line = head.substr(0, end);
  auto first = line.find(' '), last = line.rfind(' ');
  if (first == std::string_view::npos || first == last) return false;
  request.method = line.substr(0, first);
  request.target = line.substr(first + 1, last - first - 1);
  version = line.substr(last + 1);
  for (head.remove_prefix(std::min(end + 2, head.size())); !head.empty();) {
    end = head.find("\r\n");
    std::string_view field = head.substr(0, end);
    head.remove_prefix(end == std::string_view::npos ? head.size() : end + 2);
    auto colon = field.find(':');
    if (colon == std::string_view::npos) return false;
    request.headers.emplace_back(field.substr(0, colon), trimmed(field.substr(colon + 1)));
  }
  return true;
}

// The size line that begins a chunk of n bytes.
std::string chunkSize(size_t n) {
  char line[32];
  std::snprintf(line, sizeof line, "%zx\r\n", n);
  return line;
}

}  // namespace

Certificate selfSignedCertificate(const TempDir& dir) {
  Certificate made{dir.file("cert.pem"), dir.file("key.pem")};
  ProcessResult r =
      runProcess({"/usr/bin/openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256",
                  "-nodes", "-keyout", made.keyFile, "-out", made.file, "-days", "2", "-subj",
                  "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1"},
                 {});
  if (r.status != 0) throw std::runtime_error("openssl req failed: " + r.out + r.err);
  return made;
}

// One connection, plain or TLS, read through a buffer; each read is false when the connection ends first.
// Owns its descriptor. Used by one thread, which a shutdown() of the descriptor from another wakes.
class Wire {
 public:
  explicit Wire(int fd) : fd_(fd) {}
  ~Wire() {
    ssl_.reset();
    ::close(fd_);
  }

  // The server's side of a TLS handshake; false when it fails (the client does not trust the certificate).
  bool acceptTls(SSL_CTX* context) {
    ssl_.reset(SSL_new(context));
    return ssl_ && SSL_set_fd(ssl_.get(), fd_) == 1 && SSL_accept(ssl_.get()) == 1;
  }

  bool send(std::string_view bytes) {
    while (!bytes.empty()) {
      ssize_t n = ssl_ ? SSL_write(ssl_.get(), bytes.data(), static_cast<int>(std::min<size_t>(bytes.size(), 1 << 30)))
                       : ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
      if (n < 0 && !ssl_ && errno == EINTR) continue;
      if (n <= 0) return false;
      bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
  }

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

  // n bytes, appended to out.
  bool exactly(size_t n, std::string& out) {
    while (buffer_.size() < n) {
      if (!fill()) return false;
    }
    out.append(buffer_, 0, n);
    buffer_.erase(0, n);
    return true;
  }

  // A request's body, of its Content-Length (none: empty), appended to out. False for a body in any other
  // framing: the engine always sends a length, so a chunked request ends the connection instead of being
  // misread as the next request.
  bool body(const platform::HeaderList& headers, std::string& out) {
    if (findHeader(headers, "Transfer-Encoding")) return false;
    auto length = findHeader(headers, "Content-Length");
    return exactly(length ? std::strtoull(length->c_str(), nullptr, 10) : 0, out);
  }

 private:
  bool fill() {
    char chunk[16384];
    ssize_t n;
    if (ssl_) {
      n = SSL_read(ssl_.get(), chunk, sizeof chunk);
    } else {
      while ((n = ::recv(fd_, chunk, sizeof chunk, 0)) < 0 && errno == EINTR) {
      }
    }
    if (n <= 0) return false;
    buffer_.append(chunk, static_cast<size_t>(n));
    return true;
  }

  int fd_;
  std::unique_ptr<SSL, void (*)(SSL*)> ssl_{nullptr, SSL_free};
  std::string buffer_;
};

FakeServer::Pieces FakeServer::once(std::vector<std::string> pieces) {
  auto next = std::make_shared<size_t>(0);
  return [pieces = std::move(pieces), next]() -> std::optional<std::string> {
    if (*next == pieces.size()) return std::nullopt;
    return pieces[(*next)++];
  };
}

std::optional<std::string> FakeServer::Received::header(std::string_view name) const {
  return findHeader(headers, name);
}

FakeServer::FakeServer(std::optional<Certificate> tls) {
  if (tls) {
    tls_.reset(SSL_CTX_new(TLS_server_method()), SSL_CTX_free);
    if (!tls_ || SSL_CTX_use_certificate_chain_file(tls_.get(), tls->file.c_str()) != 1 ||
        SSL_CTX_use_PrivateKey_file(tls_.get(), tls->keyFile.c_str(), SSL_FILETYPE_PEM) != 1) {
      char error[256];
      ERR_error_string_n(ERR_get_error(), error, sizeof error);
      throw std::runtime_error(std::string("FakeServer: cannot use the certificate: ") + error);
    }
  }
  listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{.sin_family = AF_INET, .sin_port = 0, .sin_addr = {htonl(INADDR_LOOPBACK)}, .sin_zero = {}};
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

std::string FakeServer::url(std::string_view target) const {
  return (tls_ ? "https://127.0.0.1:" : "http://127.0.0.1:") + std::to_string(port_) + std::string(target);
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
    stopped_ = true;
    // A listening socket that is shut down stops listening at once: connections are refused from here on,
    // and the accept loop wakes. Every connection thread wakes out of its read or write, and closes its own
    // descriptor.
    ::shutdown(listenFd_, SHUT_RDWR);
    for (int fd : openFds_) ::shutdown(fd, SHUT_RDWR);
  }
  cv_.notify_all();
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
  Wire client(fd);
  if (!tls_ || client.acceptTls(tls_.get())) {
    for (;;) {
      std::string head, version;
      Received received;
      received.connection = connection;
      if (!client.until("\r\n\r\n", head) || !parseRequest(head, received, version)) break;
      bool keepAlive = version == "HTTP/1.1" ? !is(received.header("Connection"), "close")
                                             : is(received.header("Connection"), "keep-alive");
      if (is(received.header("Expect"), "100-continue") && !client.send("HTTP/1.1 100 Continue\r\n\r\n")) break;
      if (!client.body(received.headers, received.body)) break;
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

FakeServer::Reply FakeServer::replyFor(const Received& request) {
  std::function<Reply(const Received&)> handler;
  {
    std::lock_guard guard(mu_);
    if (auto route = routes_.find({request.method, request.target}); route != routes_.end()) {
      Route& r = route->second;
      return r.replies[std::min(r.next++, r.replies.size() - 1)];
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

bool FakeServer::answer(Wire& client, const Received& request, const Reply& reply) {
  if (reply.noAnswer) {
    std::unique_lock lock(mu_);
    cv_.wait(lock, [this] { return stopped_; });
    return false;
  }

  const bool bodiless = reply.status < 200 || reply.status == 204 || reply.status == 304;
  const bool sized = findHeader(reply.headers, "Content-Length").has_value();
  const bool chunked = reply.pieces && !sized && !reply.noLength && !bodiless;
  const bool ends = reply.noLength || reply.dropAfterBytes;  // the connection ends after the reply
  // Clients read the status code only; one reason phrase serves every status.
  std::string head = "HTTP/1.1 " + std::to_string(reply.status) + " Status\r\n";
  for (const auto& [name, value] : reply.headers) head += name + ": " + value + "\r\n";
  if (chunked) head += "Transfer-Encoding: chunked\r\n";
  if (!bodiless && !reply.pieces && !reply.noLength && !sized) {
    head += "Content-Length: " + std::to_string(reply.body.size()) + "\r\n";
  }
  if (reply.noLength && !findHeader(reply.headers, "Connection")) head += "Connection: close\r\n";
  head += "\r\n";

  size_t sent = 0;    // bytes of this reply so far, for dropAfterBytes
  bool first = true;  // of the bytes that trickle: no pause before it
  // Sends the reply's next bytes, at once or trickling; false when the connection ended or is to be cut.
  auto emit = [&](std::string_view bytes, bool atOnce) {
    const size_t drop = reply.dropAfterBytes.value_or(SIZE_MAX);
    bytes = bytes.substr(0, drop - std::min(sent, drop));
    sent += bytes.size();
    if (atOnce || reply.byteInterval.count() == 0) return client.send(bytes) && sent < drop;
    for (char c : bytes) {
      if (!std::exchange(first, false) && !pause(reply.byteInterval)) return false;
      if (!client.send(std::string_view(&c, 1))) return false;
    }
    return sent < drop;
  };
  bool open = emit(head, reply.headAtOnce);
  if (!open || request.method == "HEAD" || bodiless) return open && !ends;
  if (!reply.pieces) {
    return emit(reply.body, false) && !ends;
  }
  while (open) {
    std::optional<std::string> piece = reply.pieces();
    if (!piece) break;
    if (piece->empty()) continue;
    open = (!chunked || emit(chunkSize(piece->size()), false)) && emit(*piece, false) &&
           (!chunked || emit("\r\n", false));
  }
  return open && (!chunked || emit("0\r\n\r\n", false)) && !ends;
}

}  // namespace davfp::testing
