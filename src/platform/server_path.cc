#include "platform/server_path.h"

#include <algorithm>

#include "platform/text.h"

namespace davfp::platform {

std::string parentPath(std::string_view path) {
  auto slash = path.rfind('/');
  if (slash == std::string_view::npos || slash == 0) return "/";
  return std::string(path.substr(0, slash));
}

std::string join(std::string_view parent, std::string_view name) {
  std::string out(parent == "/" ? "" : parent);
  out += '/';
  out += name;
  return out;
}

bool isUnder(std::string_view path, std::string_view folder) {
  if (canonicalEqual(path, folder)) return true;
  if (folder == "/") return path.starts_with('/');
  std::string prefix(folder);
  prefix += '/';
  return canonicalHasPrefix(path, prefix);
}

bool isUnderAny(std::string_view path, const std::vector<std::string>& folders) {
  return std::any_of(folders.begin(), folders.end(), [&](const std::string& f) { return isUnder(path, f); });
}

}  // namespace davfp::platform
