// Real WebDAV servers from the distribution's packages (Apache httpd with mod_dav, nginx with dav-ext,
// lighttpd with mod_webdav, rclone), each started as a private process on a free loopback port with its own
// configuration, pid file and logs in a temporary directory, for integration tests. A RealServer owns its
// process: the destructor stops it, so nothing is left running when a test fails, and the kernel kills it
// if the thread that started it ends first (so start it on the test's own thread, not in a short-lived one).
// Use one RealServer from one thread at a time; different servers are independent.
#pragma once

#include <sys/types.h>

#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace davfp::testing {

enum class ServerKind { apache, nginx, lighttpd, rclone };

// A user name and password that every request must carry (HTTP Basic authentication).
struct BasicAuth {
  std::string user;
  std::string password;
};

std::string serverName(ServerKind kind);

class RealServer {
 public:
  // Starts the server serving the directory `root` under the URL path kPrefix and waits until it answers OPTIONS there (20 seconds at most). Throws std::runtime_error with the server's
  // log when it does not come up. When the tests run as root, a server that refuses to serve as root runs
  // as www-data: root then becomes www-data's, and every directory above root must be searchable by it.
  // With basicAuth (nginx only), every request without those credentials is answered 401. followLinks
  // (rclone only: its -L) serves a symbolic link as what it points to, a folder's as a folder.
  static constexpr const char* kPrefix = "/dav/";
  static std::unique_ptr<RealServer> start(ServerKind kind, const std::string& root,
                                           std::optional<BasicAuth> basicAuth = std::nullopt,
                                           bool followLinks = false);
  ~RealServer();

  // "http://" + userinfo + "127.0.0.1:PORT" followed by kPrefix; userinfo is "user:password@" or empty.
  std::string baseUrl(const std::string& userinfo = {}) const;
  int port() const { return port_; }
  std::string name() const { return serverName(kind_); }

  // Stops the server and everything it started: SIGTERM, then SIGKILL to its process group after a few
  // seconds. Nothing listens on port() afterwards. Idempotent.
  void stop();

  // The requests it logged so far, one line each (nginx's access log; empty for the other kinds). The
  // benchmarks count what a workload sent with it.
  std::string accessLog() const;

  // After files were written into root behind the server's back: makes path (recursively) the server's
  // user's, so that the server can read, replace and delete them.
  void adopt(const std::string& path);

  // What the server wrote to its logs so far.
  std::string log() const;

 private:
  struct Account {
    uid_t uid;
    gid_t gid;
  };

  RealServer(ServerKind kind, std::string root, std::optional<BasicAuth> basicAuth, bool followLinks);
  // One start on a fresh port. Returns false when the port was taken meanwhile (the server could not bind).
  bool tryStart();
  // Writes the configuration of a start on port_ and returns the command line that starts the server.
  std::vector<std::string> configure();
  void spawn(const std::vector<std::string>& commandLine);
  bool waitUntilReady();  // false: the port was taken
  [[noreturn]] void fail(const std::string& what);

  ServerKind kind_;
  std::string root_;    // absolute, without a trailing "/"
  bool followLinks_;
  TempDir tmp_;
  const std::string dir_ = tmp_.path();  // private: configuration, pid file, logs, lock database, temporary files
  std::optional<Account> account_;  // the unprivileged user the server runs as, when not the current one
  std::optional<BasicAuth> basicAuth_;
  int port_ = 0;
  pid_t pid_ = -1;  // the server's main process, also the id of its process group; -1 when not running
};

// Every kind, in a fixed order.
std::vector<ServerKind> allServerKinds();
// Test names and failure messages show the kind by name.
void PrintTo(ServerKind kind, std::ostream* out);

}  // namespace davfp::testing
