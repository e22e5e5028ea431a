#include "support/real_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <thread>

#include "platform/error.h"
#include "platform/url_session.h"
#include "support/host_process.h"
#include "support/temp_dir.h"

extern char** environ;

namespace davfp::testing {

namespace {

namespace fs = std::filesystem;
using std::chrono::steady_clock;

constexpr auto kStartTimeout = std::chrono::seconds(20);
constexpr auto kStopTimeout = std::chrono::seconds(5);
constexpr auto kPollInterval = std::chrono::milliseconds(20);

// The user that servers refusing to run as root serve as; Debian's packages use it too.
constexpr const char* kServerUser = "www-data";

// A loopback port that was free a moment ago: bound to port 0, read back, released. Another process may
// take it before the server binds it; start() then tries once more.
int freePort() {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
  sockaddr_in address{.sin_family = AF_INET, .sin_port = 0, .sin_addr = {htonl(INADDR_LOOPBACK)}, .sin_zero = {}};
  socklen_t length = sizeof address;
  bool ok = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0;
  int err = errno;
  ::close(fd);
  if (!ok) throw std::runtime_error(std::string("no free loopback port: ") + std::strerror(err));
  return ntohs(address.sin_port);
}

void chownTree(const std::string& path, uid_t uid, gid_t gid) {
  std::vector<std::string> paths = {path};
  if (fs::is_directory(fs::symlink_status(path))) {
    for (const auto& entry : fs::recursive_directory_iterator(path)) paths.push_back(entry.path());
  }
  for (const auto& p : paths) {
    if (::lchown(p.c_str(), uid, gid) != 0)
      throw std::runtime_error("chown " + p + ": " + std::strerror(errno));
  }
}

// Throws unless the user can search every directory from "/" down to path.
void requireReachable(const std::string& path, uid_t uid, gid_t gid) {
  fs::path partial;
  for (const auto& component : fs::path(path)) {
    partial /= component;
    struct stat st;
    if (::stat(partial.c_str(), &st) != 0)
      throw std::runtime_error("stat " + partial.string() + ": " + std::strerror(errno));
    mode_t bit = st.st_uid == uid ? S_IXUSR : st.st_gid == gid ? S_IXGRP : S_IXOTH;
    if ((st.st_mode & bit) == 0) {
      throw std::runtime_error(partial.string() + " is not searchable by " + kServerUser +
                               ", so it cannot serve " + path + " (make the directories above it mode 0755)");
    }
  }
}

std::string readIfPresent(const std::string& path) { return fileExists(path) ? readFile(path) : ""; }

}  // namespace

void PrintTo(ServerKind kind, std::ostream* out) { *out << serverName(kind); }

std::vector<ServerKind> allServerKinds() {
  return {ServerKind::apache, ServerKind::nginx, ServerKind::lighttpd, ServerKind::rclone};
}

RealServer::RealServer(ServerKind kind, std::string root, std::optional<BasicAuth> basicAuth, bool followLinks)
    : kind_(kind), root_(std::move(root)), followLinks_(followLinks), basicAuth_(std::move(basicAuth)) {}

std::unique_ptr<RealServer> RealServer::start(ServerKind kind, const std::string& root,
                                              std::optional<BasicAuth> basicAuth, bool followLinks) {
  if (basicAuth && kind != ServerKind::nginx)
    throw std::invalid_argument("Basic authentication: nginx only");
  if (followLinks && kind != ServerKind::rclone)
    throw std::invalid_argument("links are followed by rclone only");
  std::error_code error;
  const std::string rootPath = fs::canonical(root, error).string();  // absolute, without a trailing "/"
  if (error || !fs::is_directory(rootPath)) throw std::invalid_argument("not a directory: " + root);

  std::unique_ptr<RealServer> server(new RealServer(kind, rootPath, std::move(basicAuth), followLinks));
  ::chmod(server->dir_.c_str(), 0755);  // the server's own user reads its lock database in here

  // Apache will not serve as root; the others run as whoever runs the tests.
  if (::geteuid() == 0 && kind == ServerKind::apache) {
    struct passwd* user = ::getpwnam(kServerUser);
    if (user == nullptr) throw std::runtime_error(std::string("no user ") + kServerUser);
    server->account_ = Account{user->pw_uid, user->pw_gid};
    requireReachable(server->root_, user->pw_uid, user->pw_gid);
    requireReachable(server->dir_, user->pw_uid, user->pw_gid);
    chownTree(server->root_, user->pw_uid, user->pw_gid);
  }

  if (!server->tryStart() && !server->tryStart()) server->fail("its port was taken twice in a row");
  return server;
}

RealServer::~RealServer() { stop(); }

std::string RealServer::baseUrl(const std::string& userinfo) const {
  return "http://" + userinfo + "127.0.0.1:" + std::to_string(port_) + kPrefix;
}

std::string RealServer::log() const {
  return readIfPresent(dir_ + "/server.log") + readIfPresent(dir_ + "/error.log");
}

std::string RealServer::accessLog() const { return readIfPresent(dir_ + "/access.log"); }

void RealServer::adopt(const std::string& path) {
  if (account_) chownTree(path, account_->uid, account_->gid);
}

bool RealServer::tryStart() {
  // The logs of an attempt that lost its port would otherwise be mistaken for this one's.
  for (const char* log : {"/server.log", "/error.log"}) ::unlink((dir_ + log).c_str());
  port_ = freePort();
  spawn(configure());
  return waitUntilReady();
}

void RealServer::fail(const std::string& what) {
  std::string message = name() + " " + what + "; its log:\n" + log();
  stop();
  throw std::runtime_error(message);
}

void RealServer::spawn(const std::vector<std::string>& commandLine) {
  std::vector<std::string> env;
  for (char** var = environ; *var != nullptr; ++var) env.emplace_back(*var);
  if (kind_ == ServerKind::rclone) {
    // rclone reads and writes under the home and XDG directories; keep it inside the private directory.
    for (const std::string assignment : {"HOME=", "XDG_CONFIG_HOME=", "XDG_CACHE_HOME="}) {
      std::erase_if(env, [&](const std::string& var) { return var.starts_with(assignment); });
      env.push_back(assignment + dir_);
    }
  }
  std::string logPath = dir_ + "/server.log";
  int logFd = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (logFd < 0) throw std::runtime_error("open " + logPath + ": " + std::strerror(errno));
  // Its own process group, so that stop() reaches the workers too; killed with the test process if that dies
  // without running destructors.
  pid_ = spawnProcess(commandLine, env, logFd, logFd, true);
}

bool RealServer::waitUntilReady() {
  auto deadline = steady_clock::now() + kStartTimeout;
  for (;;) {
    // Exited (without reaping it yet, so that stop() can still address its process group safely)?
    siginfo_t info{};
    if (::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
        info.si_pid == pid_) {
      if (log().find("ddress already in use") != std::string::npos) {  // "Address" or "address"
        stop();
        return false;
      }
      fail("exited while starting (status " + std::to_string(info.si_status) + ")");
    }
    try {
      std::string userinfo = basicAuth_ ? basicAuth_->user + ":" + basicAuth_->password + "@" : "";
      platform::HttpRequest options{
          .method = "OPTIONS", .url = baseUrl(userinfo), .timeout = std::chrono::seconds(2)};
      if (platform::UrlSession().data(options).response.status == 200) return true;
    } catch (const platform::Error&) {
      // Not listening yet.
    }
    if (steady_clock::now() > deadline) fail("did not answer OPTIONS at " + baseUrl() + " in time");
    std::this_thread::sleep_for(kPollInterval);
  }
}

void RealServer::stop() {
  if (pid_ < 0) return;
  ::kill(pid_, SIGTERM);
  auto deadline = steady_clock::now() + kStopTimeout;
  for (;;) {
    siginfo_t info{};
    if (::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) != 0) break;  // not ours
    if (info.si_pid == pid_ || steady_clock::now() > deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  // The main process is dead or a zombie now, or hung: its group id cannot have been reused yet, so this
  // reaches exactly what it started (workers that outlived it included) and nothing else.
  ::kill(-pid_, SIGKILL);
  while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
  }
  pid_ = -1;
}

}  // namespace davfp::testing
