#include "background.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace davfp::bench {

namespace {

// Undoes the octal escapes (\040 for a space) of /proc/self/mountinfo's paths.
std::string unescaped(const std::string& field) {
  std::string out;
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size()) {
      out += static_cast<char>(std::stoi(field.substr(i + 1, 3), nullptr, 8));
      i += 3;
    } else {
      out += field[i];
    }
  }
  return out;
}

}  // namespace

Background::Background(const std::vector<std::string>& argv, const std::map<std::string, std::string>& extraEnv,
                       const std::string& logPath) {
  if (argv.empty()) throw std::invalid_argument("no program to start");
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    std::string entry = *e;
    if (!extraEnv.contains(entry.substr(0, entry.find('=')))) env.push_back(std::move(entry));
  }
  for (const auto& [name, value] : extraEnv) env.push_back(name + "=" + value);
  std::vector<std::string> args = argv;
  std::vector<char*> argPointers, envPointers;
  for (auto& a : args) argPointers.push_back(a.data());
  argPointers.push_back(nullptr);
  for (auto& e : env) envPointers.push_back(e.data());
  envPointers.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  int rc = ::posix_spawnp(&pid_, args[0].c_str(), &actions, nullptr, argPointers.data(), envPointers.data());
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) throw std::runtime_error("cannot start " + args[0] + ": " + std::strerror(rc));
}

Background::~Background() {
  if (running()) {
    signal(SIGTERM);
    if (!waitForEnd(std::chrono::seconds(10))) {
      signal(SIGKILL);
      waitForEnd(std::chrono::seconds(10));
    }
  }
}

bool Background::running() {
  if (pid_ < 0) return false;
  int status = 0;
  pid_t r = ::waitpid(pid_, &status, WNOHANG);
  if (r == pid_ || (r < 0 && errno == ECHILD)) {
    pid_ = -1;
    return false;
  }
  return true;
}

bool Background::waitForEnd(std::chrono::milliseconds timeout) {
  return waitUntil([&] { return !running(); }, timeout, std::chrono::milliseconds(10));
}

void Background::signal(int sig) {
  if (pid_ > 0) ::kill(pid_, sig);
}

bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout,
               std::chrono::milliseconds interval) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(interval);
  }
  return true;
}

bool isMountPoint(const std::string& path) {
  std::ifstream in("/proc/self/mountinfo");
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string id, parent, device, root, mountpoint;
    fields >> id >> parent >> device >> root >> mountpoint;
    if (unescaped(mountpoint) == path) return true;
  }
  return false;
}

double peakResidentBytes(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::stod(line.substr(6)) * 1024;
  }
  return 0;
}

pid_t findProcess(const std::string& comm, const std::vector<std::string>& words) {
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator("/proc", ec)) {
    std::string name = entry.path().filename();
    if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::string found;
    std::getline(std::ifstream(entry.path() / "comm"), found);
    if (found != comm) continue;
    std::ifstream cmdline(entry.path() / "cmdline");
    std::string args((std::istreambuf_iterator<char>(cmdline)), std::istreambuf_iterator<char>());
    bool all = true;
    for (const auto& w : words) all = all && args.find(w) != std::string::npos;
    if (all) return static_cast<pid_t>(std::stol(name));
  }
  return -1;
}

}  // namespace davfp::bench
