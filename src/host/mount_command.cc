#include "host/mount_command.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <vector>

#include "client/errors.h"
#include "host/failure.h"
#include "mount/mount.h"
#include "mount/replica.h"
#include "platform/file_lock.h"
#include "platform/unique_fd.h"
#include "state/state.h"

extern char** environ;

namespace davfp::cli {

namespace {

std::atomic<bool> told{false};

// Says to the starter of a background mount how the mount went: "" when mounted, else why not. Once.
void tell(int fd, const std::string& message) {
  if (fd < 0 || told.exchange(true)) return;
  std::string line = message + "\n";
  [[maybe_unused]] auto written = ::write(fd, line.data(), line.size());
  ::close(fd);
}

std::string absolute(const std::string& path) {
  char* real = ::realpath(path.c_str(), nullptr);
  if (!real) throw localFailure(path, errno);
  std::string out = real;
  std::free(real);
  return out;
}

// The domain that is mounted at mountpoint, from the kernel's table of mounts; empty when none of ours is.
std::string mountedDomain(const std::string& mountpoint) {
  std::ifstream mounts("/proc/self/mounts");
  std::string source, target, type, rest;
  while (mounts >> source >> target >> type && std::getline(mounts, rest)) {
    if (target == mountpoint && type == "fuse.davfp" && source.starts_with("davfp:")) return source.substr(6);
  }
  return {};
}

}  // namespace

void tellStarter(const Options& options, const std::string& failure) { tell(options.readyFd, failure); }

int runMount(Context& c, const std::string& domain) {
  const Options& o = c.options;
  mount::MountOptions options{.domain = domain,
                              .mountpoint = absolute(o.mountpoint),
                              .poll = std::chrono::seconds(o.poll),
                              .verbose = o.verbose,
                              .debug = o.debug};
  try {
    mount::runMount(c.platform, options, c.interrupt.token(), [&] {
      if (o.readyFd < 0)
        std::fprintf(stderr, "davfp: %s mounted at %s\n", domain.c_str(), options.mountpoint.c_str());
      tell(o.readyFd, "");
    });
  } catch (const platform::Error& e) {
    throw Failure{o.mountpoint, e, {}};
  }
  return 0;
}

int startBackgroundMount(const Options& o, const std::string& domain) {
  const std::string mountpoint = absolute(o.mountpoint);
  mount::Replica replica = mount::Replica::forDomain(domain);
  const std::string log = replica.folder() + "/mount.log";
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) throw localFailure("pipe", errno);
  platform::UniqueFd readEnd(pipeFds[0]);
  platform::UniqueFd writeEnd(pipeFds[1]);
  const int childFd = 3;

  std::vector<std::string> args = {"davfp", "--domain", domain};
  if (o.verbose) args.push_back("-v");
  for (std::string a : {"mount", mountpoint.c_str(), "--foreground", "--poll"}) args.push_back(a);
  args.push_back(std::to_string(o.poll));
  args.push_back("--ready-fd");
  args.push_back(std::to_string(childFd));
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, log.c_str(), O_WRONLY | O_APPEND | O_CREAT, 0600);
  posix_spawn_file_actions_adddup2(&actions, writeEnd.get(), childFd);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK);
  pid_t pid = 0;
  int rc = posix_spawn(&pid, "/proc/self/exe", &actions, &attr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  if (rc != 0) throw localFailure("/proc/self/exe", rc);
  writeEnd.reset();

  std::string answer;
  char buf[512];
  for (ssize_t n; (n = ::read(readEnd.get(), buf, sizeof buf)) != 0;) {
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) break;
    answer.append(buf, n);
  }
  if (answer == "\n") {
    std::fprintf(stderr, "davfp: %s mounted at %s (log: %s)\n", domain.c_str(), mountpoint.c_str(),
                 log.c_str());
    return 0;
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (answer.empty()) {
    throw Failure{o.mountpoint,
                  platform::Error(platform::kPOSIXErrorDomain, EIO,
                                  "the mount's process ended before it mounted the folder (see " + log + ")"),
                  {}};
  }
  std::fprintf(stderr, "%s", answer.c_str());  // the mount's own words, as it would have said them here
  return 1;
}

int unmount(const Options& o, platform::Env& env, std::stop_token stop) {
  const std::string mountpoint = absolute(o.mountpoint);
  const std::string domain = mountedDomain(mountpoint);
  if (domain.empty()) {
    throw Failure{
        o.mountpoint, platform::Error(platform::kPOSIXErrorDomain, EINVAL, "no drive is mounted here"), {}};
  }
  pid_t pid = 0;
  char* argv[] = {const_cast<char*>("fusermount3"), const_cast<char*>("-u"),
                  const_cast<char*>(mountpoint.c_str()), nullptr};
  int rc = posix_spawnp(&pid, "fusermount3", nullptr, nullptr, argv, environ);
  if (rc != 0) throw localFailure("fusermount3", rc);
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return 1;
  // The mount's process ends soon after the kernel lets go of the folder; it holds the drive until then.
  auto lock = platform::FileLock::take(State::lockFile(domain, env), std::chrono::seconds(60), nullptr, stop);
  if (!lock) throw Failure{{}, client::cancelledError(), {}};
  return 0;
}

}  // namespace davfp::cli
