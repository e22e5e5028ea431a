#include "platform/xdg_dirs.h"

#include <cstdlib>
#include <string_view>

namespace davfp::platform {

namespace {

std::optional<std::string> absoluteVariable(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr || value[0] != '/') return std::nullopt;
  return std::string(value);
}

// A base directory: the variable when it names an absolute directory, else its default below $HOME.
std::optional<std::string> baseDirectory(const char* variable, std::string_view belowHome) {
  if (auto dir = absoluteVariable(variable)) return dir;
  if (auto home = absoluteVariable("HOME")) {
    if (home->back() != '/') *home += '/';
    return *home + std::string(belowHome);
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> xdgDataHome() { return baseDirectory("XDG_DATA_HOME", ".local/share"); }

std::optional<std::string> xdgCacheHome() { return baseDirectory("XDG_CACHE_HOME", ".cache"); }

std::vector<std::string> xdgDataDirectories() {
  std::vector<std::string> dirs;
  if (auto home = xdgDataHome()) dirs.push_back(*home);
  const char* value = std::getenv("XDG_DATA_DIRS");
  std::string_view list = value != nullptr && value[0] != '\0' ? value : "/usr/local/share:/usr/share";
  while (!list.empty()) {
    auto colon = list.find(':');
    std::string_view dir = list.substr(0, colon);
    if (!dir.empty() && dir.front() == '/') dirs.emplace_back(dir);
    if (colon == std::string_view::npos) break;
    list.remove_prefix(colon + 1);
  }
  return dirs;
}

}  // namespace davfp::platform
