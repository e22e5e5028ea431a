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

}  // namespace

std::optional<std::string> xdgDataHome() {
  if (auto dir = absoluteVariable("XDG_DATA_HOME")) return dir;
  if (auto home = absoluteVariable("HOME")) {
    if (home->back() != '/') *home += '/';
    return *home + ".local/share";
  }
  return std::nullopt;
}

std::optional<std::string> xdgCacheHome() {
  if (auto dir = absoluteVariable("XDG_CACHE_HOME")) return dir;
  if (auto home = absoluteVariable("HOME")) {
    if (home->back() != '/') *home += '/';
    return *home + ".cache";
  }
  return std::nullopt;
}

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
