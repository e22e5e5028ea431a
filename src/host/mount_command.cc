#include "host/mount_command.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <nlohmann/json.hpp>
#include <vector>

#include "client/errors.h"
#include "dav/drive_config.h"
#include "host/drive_choice.h"
#include "host/failure.h"
#include "host/json_output.h"
#include "host/progress_bar.h"
#include "host/visible_text.h"
#include "mount/mount.h"
#include "mount/mount_table.h"
#include "mount/replica.h"
#include "mount/status.h"
#include "platform/file_lock.h"
#include "platform/unique_fd.h"
#include "platform/url.h"
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

// The domain that status and sync-now are about: the one mounted at the given mount point, else the chosen
// drive's.
std::string domainFor(const Options& o, platform::Env& env) {
  if (o.mountpoint.empty()) return chooseDrive(o.domain, env).domain;
  std::string domain = mount::domainMountedAt(absolute(o.mountpoint));
  if (domain.empty()) {
    throw Failure{
        o.mountpoint, platform::Error(platform::kPOSIXErrorDomain, EINVAL, "no drive is mounted here"), {}};
  }
  return domain;
}

std::string localTime(std::time_t when) {
  std::tm tm{};
  ::localtime_r(&when, &tm);
  char text[64];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm);
  return text;
}

}  // namespace

void tellStarter(const Options& options, const std::string& failure) { tell(options.readyFd, failure); }

int runMount(Context& c, const std::string& domain) {
  const Options& o = c.options;
  mount::MountOptions options{.domain = domain,
                              .mountpoint = absolute(o.mountpoint),
                              .poll = std::chrono::seconds(o.poll),
                              .cacheMax = o.cacheMax,
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
  if (o.cacheMax > 0) {
    args.push_back("--cache-max");
    args.push_back(std::to_string(o.cacheMax));
  }
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
  const std::string domain = mount::domainMountedAt(mountpoint);
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

int mountStatus(const Options& o, platform::Env& env) {
  const std::string domain = domainFor(o, env);
  const auto holder = platform::FileLock::holder(State::lockFile(domain, env));
  const std::string mountpoint = mount::mountpointOf(domain, holder.command, holder.pid);
  std::string server;
  if (auto drive = driveInfo(domain, env)) {
    auto url = platform::Url::parse(drive->url);
    server = url ? url->withoutCredentials() : std::string("(not a URL)");
  }
  const mount::MountStatus s = mount::readMountStatus(domain);
  if (o.json) {
    nlohmann::ordered_json out{{"domain", domain},
                               {"mountpoint", mountpoint},
                               {"pid", mountpoint.empty() ? 0 : holder.pid},
                               {"server", server},
                               {"pending", s.pending},
                               {"conflicts", s.conflicts},
                               {"lastPass", s.lastPass},
                               {"lastPassError", s.lastPassError},
                               {"replica", s.replicaFolder},
                               {"replicaBytes", s.replicaBytes},
                               {"pinnedBytes", s.pinnedBytes},
                               {"cacheMax", s.cacheMax},
                               {"evictions", s.evictions},
                               {"overLimit", s.overLimit},
                               {"items", s.items}};
    emit(jsonLine(out));
    return 0;
  }
  std::string text = "drive " + domain + "\n";
  text += mountpoint.empty()
              ? "not mounted\n"
              : "mounted at " + mountpoint + " by process " + std::to_string(holder.pid) + "\n";
  text += "server: " + (server.empty() ? std::string("not published") : server) + "\n";
  text += "changes not sent yet: " + std::to_string(s.pending) + "\n";
  text +=
      "conflicts: " + (s.conflicts.empty() ? std::string("none") : std::to_string(s.conflicts.size())) + "\n";
  for (const auto& name : s.conflicts) text += "  kept as " + name + "\n";
  text +=
      "last look for changes: " +
      (s.lastPass == 0 ? std::string("none yet")
                       : localTime(s.lastPass) +
                             (s.lastPassError.empty() ? " (done)" : " (failed: " + s.lastPassError + ")")) +
      "\n";
  text += "replica: " + humanBytes(s.replicaBytes) + " in " + s.replicaFolder + " (" +
          std::to_string(s.items) + " items known)\n";
  text += "pinned: " + humanBytes(s.pinnedBytes) + "\n";
  if (s.cacheMax > 0) {
    text += "limit: " + humanBytes(s.cacheMax) + ", " + std::to_string(s.evictions) +
            " evicted since the mount started" +
            (s.overLimit ? "; pinned files and changes not sent yet alone take more" : "") + "\n";
  }
  // Names and paths are shown as visible text, line by line.
  std::string shown;
  for (size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1) {
    shown += visible(text.substr(at, end - at)) + "\n";
  }
  emit(shown);
  return 0;
}

int syncNow(const Options& o, platform::Env& env, Interrupt& interrupt) {
  const std::string domain = domainFor(o, env);
  if (mount::mountpointOf(domain).empty()) {
    throw Failure{
        domain, platform::Error(platform::kPOSIXErrorDomain, EINVAL, "the drive is not mounted"), {}};
  }
  const auto holder = platform::FileLock::holder(State::lockFile(domain, env));
  const int64_t before = mount::readMountStatus(domain).passes;
  if (holder.pid == 0 || ::kill(static_cast<pid_t>(holder.pid), SIGUSR1) != 0) {
    throw Failure{
        domain, platform::Error(platform::kPOSIXErrorDomain, ESRCH, "the mount's process is not there"), {}};
  }
  // The pass is done when the journal counts one more; a server away makes it fail, which also counts.
  for (int i = 0; i < 1200; ++i) {
    if (!interrupt.sleepFor(std::chrono::milliseconds(100))) throw Failure{{}, client::cancelledError(), {}};
    auto now = mount::readMountStatus(domain);
    if (now.passes == before) continue;
    if (!now.lastPassError.empty()) {
      throw Failure{domain, platform::Error(platform::kPOSIXErrorDomain, EIO, now.lastPassError), {}};
    }
    return 0;
  }
  throw Failure{
      domain, platform::Error(platform::kPOSIXErrorDomain, ETIMEDOUT, "no change pass within 2 minutes"), {}};
}

}  // namespace davfp::cli
