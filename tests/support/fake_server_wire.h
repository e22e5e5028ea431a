// The wire under FakeServer: its connections, plain or TLS, their buffered reading, and the heads and bodies
// of HTTP/1.1 messages. Only the server's own source files use it. A connection and its reader are used by
// one thread; a shutdown() of the descriptor from another wakes that thread.
#pragma once

#include <openssl/ssl.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/url_session.h"
#include "support/fake_server.h"

namespace davfp::testing::wire {

bool equalsIgnoringCase(std::string_view a, std::string_view b);
// The first header of that name, compared without regard to case.
std::optional<std::string> find(const platform::HeaderList& headers, std::string_view name);
// Whether the first header of that name has this value, compared without regard to case.
bool headerIs(const platform::HeaderList& headers, std::string_view name, std::string_view value);

// A TLS server context with this certificate; throws std::runtime_error when it does not load.
std::shared_ptr<SSL_CTX> tlsContext(const Certificate& certificate);

// One connection, plain or TLS. Owns its descriptor.
class Connection {
 public:
  explicit Connection(int fd) : fd_(fd) {}
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // The server's side of a TLS handshake; false when it fails (the client does not trust the certificate).
  bool acceptTls(SSL_CTX* context);
  bool sendAll(std::string_view bytes);
  // Some bytes into buffer; 0 when the connection has ended.
  size_t receive(char* buffer, size_t size);

 private:
  int fd_;
  std::unique_ptr<SSL, void (*)(SSL*)> ssl_{nullptr, SSL_free};
};

// Buffered reading of one connection; each read is false when the connection ends first.
class Reader {
 public:
  explicit Reader(Connection& connection) : connection_(connection) {}

  // The bytes up to the delimiter, which is consumed and not returned.
  bool until(std::string_view delimiter, std::string& out);
  bool head(std::string& out) { return until("\r\n\r\n", out); }  // start line and header lines
  bool line(std::string& out) { return until("\r\n", out); }
  bool exactly(size_t n, std::string& out);  // appended to out

 private:
  bool fill();

  Connection& connection_;
  std::string buffer_;
};

// The lines after a head's start line, as headers; false when one is malformed.
bool parseHeaders(std::string_view lines, platform::HeaderList& headers);
// A request head: "METHOD target VERSION" and headers.
bool parseRequest(const std::string& head, FakeServer::Received& request, std::string& version);
// Reads a request's body, framed as its headers say (chunked, of a Content-Length, or else empty), and
// appends it to out; false when the connection ends too soon or the framing is malformed.
bool readBody(Reader& reader, const platform::HeaderList& headers, std::string& out);

}  // namespace davfp::testing::wire
