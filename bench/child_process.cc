#include "child_process.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "summary.h"

extern char** environ;

namespace davfp::bench {

namespace {

constexpr size_t kKeptErrorOutput = 4096;

std::vector<std::string> environmentWith(const std::map<std::string, std::string>& extra) {
  std::vector<std::string> out;
  for (char** e = environ; *e != nullptr; ++e) {
    std::string entry = *e;
    std::string name = entry.substr(0, entry.find('='));
    if (!extra.contains(name)) out.push_back(std::move(entry));
  }
  for (const auto& [name, value] : extra) out.push_back(name + "=" + value);
  return out;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
  std::vector<char*> out;
  for (auto& s : strings) out.push_back(s.data());
  out.push_back(nullptr);
  return out;
}

// The launcher built next to this program.
std::string launcherPath() {
  return (std::filesystem::path(selfPath()).parent_path() / "davfp-bench-launch").string();
}

}  // namespace

ChildRun runChild(const ChildSpec& spec) {
  if (spec.argv.empty()) throw std::invalid_argument("no program to run");
  char errorTemplate[] = "/tmp/davfp-bench-stderr-XXXXXX";
  int errorFd = ::mkstemp(errorTemplate);
  if (errorFd < 0) throw std::runtime_error(std::string("mkstemp: ") + std::strerror(errno));
  ::unlink(errorTemplate);
  char reportTemplate[] = "/tmp/davfp-bench-peak-XXXXXX";
  int reportFd = ::mkstemp(reportTemplate);
  if (reportFd < 0) throw std::runtime_error(std::string("mkstemp: ") + std::strerror(errno));
  ::close(reportFd);
  const std::string report = reportTemplate;

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, spec.stdinPath.c_str(), O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, spec.stdoutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&actions, errorFd, 2);

  // The program runs under the small launcher, which measures its peak (see peak_launcher.c).
  std::vector<std::string> args = {launcherPath(), report};
  args.insert(args.end(), spec.argv.begin(), spec.argv.end());
  std::vector<std::string> env = environmentWith(spec.extraEnv);
  auto argPointers = pointers(args);
  auto envPointers = pointers(env);

  pid_t pid = -1;
  auto start = Clock::now();
  int rc = ::posix_spawn(&pid, args[0].c_str(), &actions, nullptr, argPointers.data(), envPointers.data());
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    ::close(errorFd);
    ::unlink(report.c_str());
    throw std::runtime_error("cannot start " + args[0] + ": " + std::strerror(rc));
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) throw std::runtime_error(std::string("waitpid: ") + std::strerror(errno));
  }
  ChildRun run;
  run.seconds = since(start);
  run.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  std::ifstream peak(report);
  long kib = 0;
  if (peak >> kib) run.peakBytes = static_cast<double>(kib) * 1024;
  ::unlink(report.c_str());

  char buffer[kKeptErrorOutput];
  ssize_t n = ::pread(errorFd, buffer, sizeof buffer, 0);
  if (n > 0) run.errorOutput.assign(buffer, static_cast<size_t>(n));
  ::close(errorFd);
  return run;
}

std::string selfPath() {
  char buffer[4096];
  ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) throw std::runtime_error("cannot find this program's own path");
  return std::string(buffer, static_cast<size_t>(n));
}

}  // namespace davfp::bench
