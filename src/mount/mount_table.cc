#include "mount/mount_table.h"

#include <cctype>
#include <fstream>
#include <string_view>

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

}  // namespace

std::string mountpointOf(const std::string& domain, const std::string& holderCommand) {
  std::string first, named;
  eachDrive([&](const std::string& d, const std::string& target) {
    if (d != domain) return false;
    if (first.empty()) first = target;
    if (!holderCommand.empty() && holderCommand.find(" " + target + " ") != std::string::npos) named = target;
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
