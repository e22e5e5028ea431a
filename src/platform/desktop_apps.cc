// Finding and starting freedesktop applications. Starting uses fork and exec without a shell: the command
// line comes from the entry's own quoting rules, never from a shell's word splitting.
#include "platform/desktop_apps.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "platform/desktop_entry.h"
#include "platform/xdg_dirs.h"

extern char** environ;

namespace davfp::platform {

namespace {

bool isRegularFile(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::optional<std::string> readText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream out;
  out << in.rdbuf();
  if (in.bad()) return std::nullopt;
  return out.str();
}

// The file that execve should run for a program named in an Exec key: a name with a slash as it is,
// otherwise the first executable regular file of that name in $PATH. Resolved before fork, because the
// child of a threaded process may only make async-signal-safe calls.
std::optional<std::string> resolveProgram(const std::string& program) {
  if (program.find('/') != std::string::npos) return program;
  const char* value = std::getenv("PATH");
  std::string_view list = value != nullptr && value[0] != '\0' ? value : "/usr/local/bin:/usr/bin:/bin";
  while (true) {
    auto colon = list.find(':');
    std::string dir(list.substr(0, colon));
    std::string candidate = (dir.empty() ? std::string(".") : dir) + "/" + program;
    if (isRegularFile(candidate) && ::access(candidate.c_str(), X_OK) == 0) return candidate;
    if (colon == std::string_view::npos) return std::nullopt;
    list.remove_prefix(colon + 1);
  }
}

// One past the highest descriptor worth closing when close_range is not available (kernels before 5.9).
int descriptorLimit() {
  struct rlimit limit;
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return 65536;
  return static_cast<int>(std::min<rlim_t>(limit.rlim_cur, 65536));
}

// Runs in the grandchild between fork and exec: only async-signal-safe calls. Never returns.
[[noreturn]] void execDetached(const char* file, char* const* argv, const char* workingDirectory,
                               int descriptors) {
  int devNull = ::open("/dev/null", O_RDWR);
  if (devNull < 0) ::_exit(127);
  for (int fd = 0; fd <= 2; ++fd) {
    if (::dup2(devNull, fd) < 0) ::_exit(127);
  }
  // Nothing of the caller's (sockets, the state file) leaks into the application.
  if (::close_range(3, ~0U, 0) != 0) {
    for (int fd = 3; fd < descriptors; ++fd) ::close(fd);
  }
  struct sigaction defaultAction = {};
  defaultAction.sa_handler = SIG_DFL;
  for (int sig = 1; sig < NSIG; ++sig) ::sigaction(sig, &defaultAction, nullptr);
  sigset_t none;
  ::sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  if (::chdir(workingDirectory) != 0) ::_exit(127);
  ::execve(file, argv, environ);
  ::_exit(127);
}

}  // namespace

std::optional<std::string> findDesktopEntry(std::string_view bundleID) {
  // The identifier names a file in each applications directory and nothing else.
  if (bundleID.empty() || bundleID.find('/') != std::string_view::npos ||
      bundleID.find('\0') != std::string_view::npos) {
    return std::nullopt;
  }
  for (const auto& dir : xdgDataDirectories()) {
    std::string path = dir + "/applications/" + std::string(bundleID) + ".desktop";
    if (!isRegularFile(path)) continue;
    // The most important entry decides: a hidden one deletes the application at that level.
    auto text = readText(path);
    if (text && parseDesktopEntry(*text).hidden) return std::nullopt;
    return path;
  }
  return std::nullopt;
}

void startDesktopEntry(const std::string& entryPath, const std::vector<std::string>& arguments) {
  auto text = readText(entryPath);
  if (!text) return;
  DesktopEntry entry = parseDesktopEntry(*text);
  if (entry.hidden || (!entry.type.empty() && entry.type != "Application")) return;
  auto args = execArguments(entry.exec);
  if (!args) return;
  auto file = resolveProgram(args->front());
  if (!file) return;
  args->insert(args->end(), arguments.begin(), arguments.end());

  // Everything the children use is prepared here, before fork.
  std::vector<char*> argv;
  argv.reserve(args->size() + 1);
  for (auto& arg : *args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  std::string workingDirectory = entry.path.value_or("/");
  int descriptors = descriptorLimit();

  pid_t child = ::fork();
  if (child < 0) return;
  if (child == 0) {
    // The intermediate child: a new session, then a grandchild that is not its leader (so it can never
    // acquire a controlling terminal), and exit at once so that init adopts the grandchild.
    if (::setsid() < 0) ::_exit(127);
    pid_t grandchild = ::fork();
    if (grandchild == 0) execDetached(file->c_str(), argv.data(), workingDirectory.c_str(), descriptors);
    ::_exit(grandchild < 0 ? 127 : 0);
  }
  // Reap the intermediate child, which exits at once; the application itself is not waited for.
  while (::waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
  }
}

}  // namespace davfp::platform
