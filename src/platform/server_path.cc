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

namespace {

bool rawUnder(std::string_view path, std::string_view folder) {
  if (folder == "/") return path.starts_with('/');
  return path.starts_with(folder) && (path.size() == folder.size() || path[folder.size()] == '/');
}

}  // namespace

bool isUnder(std::string_view path, std::string_view folder) {
  // A deletion asks this of every identifier the drive holds: ASCII, the common case, is compared as it is,
  // with nothing allocated.
  if (isAscii(path) && isAscii(folder)) return rawUnder(path, folder);
  return rawUnder(nfc(path), nfc(folder));
}

bool isUnderAny(std::string_view path, const std::vector<std::string>& folders) {
  return std::any_of(folders.begin(), folders.end(), [&](const std::string& f) { return isUnder(path, f); });
}

}  // namespace davfp::platform
