#include "support/fake_server_wire.h"

#include <openssl/err.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <stdexcept>

#include "support/host_process.h"

namespace davfp::testing {

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

namespace wire {

namespace {

constexpr size_t kPiece = 16384;

std::string_view trimmed(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

}  // namespace

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && ::strncasecmp(a.data(), b.data(), a.size()) == 0;
}

std::optional<std::string> find(const platform::HeaderList& headers, std::string_view name) {
  for (const auto& [key, value] : headers) {
    if (equalsIgnoringCase(key, name)) return value;
  }
  return std::nullopt;
}

bool headerIs(const platform::HeaderList& headers, std::string_view name, std::string_view value) {
  auto found = find(headers, name);
  return found && equalsIgnoringCase(*found, value);
}

std::shared_ptr<SSL_CTX> tlsContext(const Certificate& certificate) {
  std::shared_ptr<SSL_CTX> context(SSL_CTX_new(TLS_server_method()), SSL_CTX_free);
  if (!context || SSL_CTX_use_certificate_chain_file(context.get(), certificate.file.c_str()) != 1 ||
      SSL_CTX_use_PrivateKey_file(context.get(), certificate.keyFile.c_str(), SSL_FILETYPE_PEM) != 1) {
    char error[256];
    ERR_error_string_n(ERR_get_error(), error, sizeof error);
    throw std::runtime_error(std::string("FakeServer: cannot use the certificate: ") + error);
  }
  return context;
}

Connection::~Connection() {
  ssl_.reset();
  ::close(fd_);
}

bool Connection::acceptTls(SSL_CTX* context) {
  ssl_.reset(SSL_new(context));
  return ssl_ && SSL_set_fd(ssl_.get(), fd_) == 1 && SSL_accept(ssl_.get()) == 1;
}

bool Connection::sendAll(std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n =
        ssl_ ? SSL_write(ssl_.get(), bytes.data(), static_cast<int>(std::min<size_t>(bytes.size(), 1 << 30)))
             : ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n < 0 && !ssl_ && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

size_t Connection::receive(char* buffer, size_t size) {
  if (ssl_) {
    int n = SSL_read(ssl_.get(), buffer, static_cast<int>(size));
    return n > 0 ? static_cast<size_t>(n) : 0;
  }
  ssize_t n;
  while ((n = ::recv(fd_, buffer, size, 0)) < 0 && errno == EINTR) {
  }
  return n > 0 ? static_cast<size_t>(n) : 0;
}

bool Reader::fill() {
  char chunk[kPiece];
  size_t n = connection_.receive(chunk, sizeof chunk);
  buffer_.append(chunk, n);
  return n > 0;
}

bool Reader::until(std::string_view delimiter, std::string& out) {
  size_t end;
  while ((end = buffer_.find(delimiter)) == std::string::npos) {
    if (!fill()) return false;
  }
  out = buffer_.substr(0, end);
  buffer_.erase(0, end + delimiter.size());
  return true;
}

bool Reader::exactly(size_t n, std::string& out) {
  while (buffer_.size() < n) {
    if (!fill()) return false;
  }
  out.append(buffer_, 0, n);
  buffer_.erase(0, n);
  return true;
}

bool parseHeaders(std::string_view lines, platform::HeaderList& headers) {
  while (!lines.empty()) {
    size_t end = lines.find("\r\n");
    std::string_view field = lines.substr(0, end);
    lines.remove_prefix(end == std::string_view::npos ? lines.size() : end + 2);
    auto colon = field.find(':');
    if (colon == std::string_view::npos) return false;
    headers.emplace_back(std::string(field.substr(0, colon)), std::string(trimmed(field.substr(colon + 1))));
  }
  return true;
}

bool parseRequest(const std::string& head, FakeServer::Received& request, std::string& version) {
  size_t lineEnd = std::min(head.find("\r\n"), head.size());
  std::string_view requestLine = std::string_view(head).substr(0, lineEnd);
  auto first = requestLine.find(' ');
  auto last = requestLine.rfind(' ');
  if (first == std::string_view::npos || first == last) return false;
  request.method = std::string(requestLine.substr(0, first));
  request.target = std::string(requestLine.substr(first + 1, last - first - 1));
  version = std::string(requestLine.substr(last + 1));
  return parseHeaders(std::string_view(head).substr(std::min(lineEnd + 2, head.size())), request.headers);
}

bool readBody(Reader& reader, const platform::HeaderList& headers, std::string& out) {
  if (!headerIs(headers, "Transfer-Encoding", "chunked")) {
    auto length = find(headers, "Content-Length");
    return reader.exactly(length ? std::strtoull(length->c_str(), nullptr, 10) : 0, out);
  }
  for (;;) {
    std::string sizeLine, crlf;
    if (!reader.line(sizeLine)) return false;
    char* end = nullptr;
    unsigned long size = std::strtoul(sizeLine.c_str(), &end, 16);
    if (end == sizeLine.c_str()) return false;
    if (size == 0) break;
    if (!reader.exactly(size, out) || !reader.line(crlf) || !crlf.empty()) return false;
  }
  std::string trailer;
  do {
    if (!reader.line(trailer)) return false;
  } while (!trailer.empty());
  return true;
}

}  // namespace wire
}  // namespace davfp::testing
