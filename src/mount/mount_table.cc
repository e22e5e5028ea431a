#include "mount/mount_table.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <string_view>
#include <vector>

#include "platform/url.h"

namespace davfp::mount {

namespace {

constexpr std::string_view kSource = "davfp:";

}  // namespace

std::string fsnameOf(const std::string& domain) {
  return std::string(kSource) + platform::percentEncode(domain, [](unsigned char c) {
           return std::isalnum(c) != 0 || c == '-' || c == '_' || c == '.';
         });
}

namespace {

// The table escapes space, tab, newline and backslash in paths as three octal digits.
std::string unescape(const std::string& field) {
  std::string out;
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size()) {
      const std::string digits = field.substr(i + 1, 3);
      if (digits.find_first_not_of("01234567") == std::string::npos && digits.size() == 3) {
        out += static_cast<char>(std::stoi(digits, nullptr, 8));
        i += 3;
        continue;
      }
    }
    out += field[i];
  }
  return out;
}

// Calls found(domain, mountpoint) for each mounted drive until it returns true.
template <class Found>
void eachDrive(Found found) {
  std::ifstream mounts("/proc/self/mounts");
  std::string source, target, type, rest;
  while (mounts >> source >> target >> type && std::getline(mounts, rest)) {
    if (type != "fuse.davfp" || !source.starts_with(kSource)) continue;
    auto domain = platform::percentDecode(unescape(source.substr(kSource.size())));
    if (domain && found(*domain, unescape(target))) return;
  }
}

// The arguments of process pid as absolute paths, each resolved against the process's working directory
// and normalised ("mnt", "./mnt/" and "../x/mnt" as the absolute path they name). Empty when unreadable.
std::vector<std::string> argumentPathsOf(long pid) {
  std::error_code error;
  const std::filesystem::path cwd =
      std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/cwd", error);
  if (error) return {};
  std::ifstream file("/proc/" + std::to_string(pid) + "/cmdline", std::ios::binary);
  std::vector<std::string> paths;
  bool program = true;
  for (std::string argument; std::getline(file, argument, '\0'); program = false) {
    if (program || argument.empty()) continue;
    std::string path = (cwd / argument).lexically_normal().string();
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    paths.push_back(std::move(path));
  }
  return paths;
}

}  // namespace

std::string mountpointOf(const std::string& domain, const std::string& holderCommand, long holderPid) {
  const std::vector<std::string> holderPaths =
      holderPid > 0 ? argumentPathsOf(holderPid) : std::vector<std::string>{};
  std::string first, named;
  eachDrive([&](const std::string& d, const std::string& target) {
    if (d != domain) return false;
    if (first.empty()) first = target;
    if (!holderCommand.empty() && holderCommand.find(" " + target + " ") != std::string::npos) named = target;
    if (std::find(holderPaths.begin(), holderPaths.end(), target) != holderPaths.end()) named = target;
    return !named.empty();
  });
  return holderCommand.empty() ? first : named;
}

std::string domainMountedAt(const std::string& mountpoint) {
  std::string out;
  eachDrive([&](const std::string& d, const std::string& target) {
    if (target == mountpoint) out = d;
    return !out.empty();
  });
  return out;
}

}  // namespace davfp::mount
