#include "support/reliability_tls_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

extern char** environ;

namespace davfp::testing {

namespace {

// Starts argv with its output appended to logFile; the process id, or -1.
pid_t spawnLogged(const std::vector<std::string>& argv, const std::string& logFile) {
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  pid_t pid = -1;
  int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  return rc == 0 ? pid : -1;
}

int freeLoopbackPort() {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  int port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    port = ntohs(address.sin_port);
  }
  ::close(fd);
  return port;
}

bool accepts(int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port));
  bool connected = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return connected;
}

}  // namespace

int runProgram(const std::vector<std::string>& argv, const std::string& logFile) {
  pid_t pid = spawnLogged(argv, logFile);
  if (pid < 0) return -1;
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

TlsServer::TlsServer() {
  const std::string key = dir_.file("key.pem"), cert = dir_.file("cert.pem"), log = dir_.file("openssl.log");
  if (runProgram({"openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes",
                  "-keyout", key, "-out", cert, "-days", "2", "-subj", "/CN=127.0.0.1", "-addext",
                  "subjectAltName=IP:127.0.0.1"},
                 log) != 0) {
    throw std::runtime_error("openssl req failed: " + this->log());
  }
  // A port that was free a moment ago may be taken by then: try a few.
  for (int attempt = 0; attempt < 5 && pid_ < 0; ++attempt) {
    port_ = freeLoopbackPort();
    pid_t pid = spawnLogged({"openssl", "s_server", "-accept", "127.0.0.1:" + std::to_string(port_), "-cert",
                             cert, "-key", key, "-www", "-quiet"},
                            log);
    if (pid < 0) break;
    bool exited = false;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
      if (accepts(port_)) {
        pid_ = pid;
        break;
      }
      exited = ::waitpid(pid, nullptr, WNOHANG) == pid;  // it gave up: the port was taken
      if (exited) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (pid_ < 0 && !exited) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
    }
  }
  if (pid_ < 0) throw std::runtime_error("openssl s_server did not come up: " + this->log());
}

TlsServer::~TlsServer() {
  if (pid_ < 0) return;
  ::kill(pid_, SIGTERM);
  ::waitpid(pid_, nullptr, 0);
}

std::string TlsServer::url(std::string_view target, std::string_view userinfo) const {
  return "https://" + std::string(userinfo) + "127.0.0.1:" + std::to_string(port_) + std::string(target);
}

std::string TlsServer::log() const {
  try {
    return readFile(dir_.file("openssl.log"));
  } catch (const std::exception&) {
    return {};
  }
}

}  // namespace davfp::testing
