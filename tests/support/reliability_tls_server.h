// TlsServer: an HTTPS server on a free loopback port whose certificate nobody trusts unless told to: a
// self-signed one, made for 127.0.0.1 when the server starts (the distribution's openssl: "req" for the
// certificate, "s_server -www" for the server). For checking that certificates are verified and that the
// client fails closed. Stopped by its destructor. Use from one thread.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>
#include <vector>

#include "support/temp_dir.h"

namespace davfp::testing {

class TlsServer {
 public:
  // Throws std::runtime_error with openssl's output when the certificate or the server cannot be made.
  TlsServer();
  ~TlsServer();
  TlsServer(const TlsServer&) = delete;
  TlsServer& operator=(const TlsServer&) = delete;

  int port() const { return port_; }
  // "https://" + userinfo + "127.0.0.1:PORT" + target; userinfo is "user:password@" or empty.
  std::string url(std::string_view target = "/", std::string_view userinfo = {}) const;
  // What openssl printed so far.
  std::string log() const;
  // The server's certificate (PEM), which a client may be told to trust.
  std::string certificate() const { return dir_.file("cert.pem"); }

 private:
  TempDir dir_;
  int port_ = 0;
  pid_t pid_ = -1;
};

// Runs a program with arguments, its output appended to logFile; returns its exit status (-1 when it could
// not be started or did not exit normally).
int runProgram(const std::vector<std::string>& argv, const std::string& logFile);

}  // namespace davfp::testing
