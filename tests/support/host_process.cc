#include "support/host_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace davfp::testing {

namespace {

using Clock = std::chrono::steady_clock;

void closeFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

}  // namespace

pid_t spawnProcess(const std::vector<std::string>& argv, const std::vector<std::string>& env, int out, int err,
                   bool group) {
  // Everything the child needs is made before fork: between fork and exec only async-signal-safe calls.
  std::vector<std::string> args = argv, vars = env;
  std::vector<char*> argp, envp;
  for (auto& a : args) argp.push_back(a.data());
  argp.push_back(nullptr);
  for (auto& v : vars) envp.push_back(v.data());
  envp.push_back(nullptr);
  int devNull = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  pid_t parent = ::getpid();
  pid_t pid = ::fork();
  if (pid == 0) {
    if (group) {
      ::setpgid(0, 0);
      ::prctl(PR_SET_PDEATHSIG, SIGKILL);
      if (::getppid() != parent) ::_exit(127);
    }
    if (devNull < 0 || ::dup2(devNull, 0) < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0) ::_exit(127);
    ::close_range(3, ~0U, 0);
    sigset_t none;
    ::sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::execve(argp[0], argp.data(), envp.data());
    ::_exit(127);
  }
  int forkError = errno;
  if (devNull >= 0) ::close(devNull);
  ::close(out);
  if (err != out) ::close(err);
  if (pid < 0) throw std::runtime_error(std::string("fork: ") + std::strerror(forkError));
  if (group) ::setpgid(pid, pid);  // also here, so that no signal can miss the group while the child starts
  return pid;
}

std::unique_ptr<ChildProcess> ChildProcess::start(const std::vector<std::string>& argv,
                                                  const std::vector<std::string>& env) {
  int out[2], err[2];
  if (::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
  if (::pipe2(err, O_CLOEXEC) != 0) {
    ::close(out[0]);
    ::close(out[1]);
    throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
  }
  std::unique_ptr<ChildProcess> child(new ChildProcess);
  child->fds_[0] = out[0];
  child->fds_[1] = err[0];
  child->pid_ = spawnProcess(argv, env, out[1], err[1], false);
  return child;
}

ChildProcess::~ChildProcess() {
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
    }
  }
  for (int& fd : fds_) closeFd(fd);
}

bool ChildProcess::readSome(std::chrono::milliseconds timeout) {
  pollfd fds[2] = {{fds_[0], POLLIN, 0}, {fds_[1], POLLIN, 0}};
  if (fds_[0] < 0 && fds_[1] < 0) return false;
  int ready = ::poll(fds, 2, static_cast<int>(timeout.count()));
  if (ready < 0 && errno != EINTR) throw std::runtime_error(std::string("poll: ") + std::strerror(errno));
  char buffer[65536];
  for (int i = 0; i < 2; ++i) {
    if (fds_[i] < 0 || (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
    ssize_t n = ::read(fds_[i], buffer, sizeof buffer);
    if (n > 0) {
      text_[i].append(buffer, static_cast<size_t>(n));
    } else if (n == 0 || errno != EINTR) {
      closeFd(fds_[i]);
    }
  }
  return fds_[0] >= 0 || fds_[1] >= 0;
}

bool ChildProcess::waitForOutput(const std::string& text, bool onStderr, std::chrono::milliseconds timeout) {
  auto deadline = Clock::now() + timeout;
  const std::string& where = text_[onStderr ? 1 : 0];
  while (where.find(text) == std::string::npos) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return false;
    if (!readSome(left)) return where.find(text) != std::string::npos;
  }
  return true;
}

void ChildProcess::signal(int sig) {
  if (pid_ > 0) ::kill(pid_, sig);
}

ProcessResult ChildProcess::finish(std::chrono::milliseconds timeout) {
  auto deadline = Clock::now() + timeout;
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) {
      ::kill(pid_, SIGKILL);
      break;
    }
    if (!readSome(left)) break;
  }
  while (readSome(std::chrono::milliseconds(1000))) {
  }
  int raw = 0;
  while (::waitpid(pid_, &raw, 0) < 0 && errno == EINTR) {
  }
  pid_ = -1;
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw), text_[0], text_[1]};
}

ProcessResult runProcess(const std::vector<std::string>& argv, const std::vector<std::string>& env) {
  return ChildProcess::start(argv, env)->finish(std::chrono::minutes(2));
}

}  // namespace davfp::testing
