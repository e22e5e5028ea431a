#include "host/download_dirs.h"

#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <filesystem>
#include <optional>
#include <string_view>

#include "platform/env.h"
#include "platform/error.h"

namespace davfp::cli {

namespace {

constexpr std::string_view kPrefix = ".davfp-";
constexpr std::string_view kUnique = "XXXXXX";  // what mkdtemp replaces

// The process that a download folder's name names: the prefix, a process identifier, "-", and the six
// characters that made the name unique.
std::optional<pid_t> ownerOf(std::string_view name) {
  if (!name.starts_with(kPrefix)) return std::nullopt;
  name.remove_prefix(kPrefix.size());
  size_t dash = name.find('-');
  if (dash == std::string_view::npos || name.size() - dash - 1 != kUnique.size()) return std::nullopt;
  pid_t pid = 0;
  auto [end, error] = std::from_chars(name.data(), name.data() + dash, pid);
  if (error != std::errc() || end != name.data() + dash || pid <= 0) return std::nullopt;
  return pid;
}

// Only a process that certainly does not exist is gone: one of another user exists too (EPERM).
bool running(pid_t pid) { return pid == ::getpid() || ::kill(pid, 0) == 0 || errno != ESRCH; }

}  // namespace

std::string makeDownloadDirectory(const std::string& base) {
  std::string pattern = platform::joinPath(
      base, std::string(kPrefix) + std::to_string(::getpid()) + "-" + std::string(kUnique));
  if (::mkdtemp(pattern.data()) == nullptr) throw platform::posixError(errno, "mkdtemp " + pattern);
  return pattern;
}

void removeAbandonedDownloadDirectories(const std::string& base) {
  namespace fs = std::filesystem;
  std::error_code error;  // a folder that cannot be read or emptied is left as it is
  for (fs::directory_iterator it(base, error), end; !error && it != end; it.increment(error)) {
    const std::string path = it->path().string();
    auto owner = ownerOf(it->path().filename().string());
    if (!owner || running(*owner)) continue;
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) continue;
    std::error_code ignored;
    fs::remove_all(path, ignored);
  }
}

}  // namespace davfp::cli
