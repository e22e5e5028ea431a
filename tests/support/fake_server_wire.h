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
  Connection(int fd, FakeServer::Direction sending) : fd_(fd), sending_(sending) {}
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // The server's side of a TLS handshake; false when it fails (the client does not trust the certificate).
  bool acceptTls(SSL_CTX* context);
  bool sendAll(std::string_view bytes);
  // Some bytes into buffer; 0 when the connection has ended.
  size_t receive(char* buffer, size_t size);
  int fd() const { return fd_; }
  // Where what is sent on it goes.
  FakeServer::Direction sending() const { return sending_; }

 private:
  int fd_;
  FakeServer::Direction sending_;
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
  bool some(size_t most, std::string& out);  // at least one byte, at most `most`
  bool buffered() const { return !buffer_.empty(); }

 private:
  bool fill();

  Connection& connection_;
  std::string buffer_;
};

// The lines after a head's start line, as headers; false when one is malformed.
bool parseHeaders(std::string_view lines, platform::HeaderList& headers);
// A request head: "METHOD target VERSION" and headers.
bool parseRequest(const std::string& head, FakeServer::Received& request, std::string& version);
// A response head: "VERSION STATUS reason" and headers.
bool parseResponse(const std::string& head, int& status, platform::HeaderList& headers);

// The body of one message, read piece by piece as it arrives.
class BodyReader {
 public:
  enum class Framing { length, chunked, untilClose };

  // Framed as the headers say: chunked, or of a Content-Length, or else for a response up to the end of the
  // connection and for a request empty.
  BodyReader(Reader& reader, const platform::HeaderList& headers, bool response);
  Framing framing() const { return framing_; }
  // The next piece of the body; none at its end. failed() tells an end too soon or malformed framing.
  std::optional<std::string> next();
  bool failed() const { return failed_; }

 private:
  std::optional<std::string> fail() {
    failed_ = true;
    return std::nullopt;
  }

  Reader& reader_;
  Framing framing_;
  uint64_t left_ = 0;  // of a length
  bool done_ = false;
  bool failed_ = false;
};

}  // namespace davfp::testing::wire
