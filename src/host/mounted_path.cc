#include "host/mounted_path.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "host/drive_choice.h"
#include "host/failure.h"
#include "mount/mount_table.h"
#include "platform/file_lock.h"
#include "state/state.h"

namespace davfp::cli {

namespace {

// The path with symbolic links and "." and ".." resolved, when it exists.
std::optional<std::string> real(const std::string& path) {
  char* resolved = ::realpath(path.c_str(), nullptr);
  if (!resolved) return std::nullopt;
  std::string out = resolved;
  std::free(resolved);
  return out;
}

bool inMountedDrive(std::string path) {
  for (;;) {
    if (!mount::domainMountedAt(path).empty()) return true;
    if (path == "/" || path.empty()) return false;
    const size_t slash = path.find_last_of('/');
    path = slash == 0 ? "/" : path.substr(0, slash);
  }
}

}  // namespace

std::string mountedPath(const std::string& path, const std::optional<std::string>& domain,
                        platform::Env& env) {
  if (auto local = real(path); local && inMountedDrive(*local)) return *local;

  std::string relative = path;
  while (!relative.empty() && relative.front() == '/') relative.erase(0, 1);
  for (size_t at = 0; at <= relative.size();) {
    size_t end = relative.find('/', at);
    if (end == std::string::npos) end = relative.size();
    if (relative.compare(at, end - at, "..") == 0 && end - at == 2) {
      throw UsageError("\"" + path + "\": a drive path cannot climb out of the drive (\"..\")");
    }
    at = end + 1;
  }
  const std::string chosen = chooseDrive(domain, env).domain;
  // The mount that the process holding the drive made (none when no process of ours holds it): other users
  // may mount the same domain elsewhere.
  const auto holder = platform::FileLock::holder(State::lockFile(chosen, env));
  const std::string mountpoint =
      holder.command.empty() ? std::string() : mount::mountpointOf(chosen, holder.command, holder.pid);
  if (mountpoint.empty()) {
    throw Failure{path,
                  platform::Error(platform::kPOSIXErrorDomain, EINVAL,
                                  "not in a mounted drive's folder, and drive " + chosen + " is not mounted"),
                  "mount it with davfp mount MOUNTPOINT"};
  }
  std::string out = relative.empty() ? mountpoint : mountpoint + "/" + relative;
  struct stat st {};
  if (::lstat(out.c_str(), &st) != 0) {
    int err = errno;
    throw Failure{path,
                  platform::Error(platform::kPOSIXErrorDomain, err,
                                  err == ENOENT ? "no such item on the drive" : std::strerror(err)),
                  {}};
  }
  return out;
}

}  // namespace davfp::cli
