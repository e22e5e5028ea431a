#include "mount/replica.h"

#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <system_error>

#include "platform/error.h"
#include "platform/url.h"
#include "platform/xdg_dirs.h"

namespace davfp::mount {

namespace {

// A domain as one folder name: nothing but letters, digits, "-", "_" and "." stays itself, and a leading dot
// is escaped, so that no domain names "..", a hidden folder or a path.
std::string folderName(const std::string& domain) {
  std::string name = platform::percentEncode(
      domain, [](unsigned char c) { return std::isalnum(c) != 0 || c == '-' || c == '_' || c == '.'; });
  if (name.empty() || name.front() == '.') name = "%2E" + name.substr(name.empty() ? 0 : 1);
  return name;
}

void makePrivateFolder(const std::string& path) {
  std::error_code ec;
  std::filesystem::create_directories(path, ec);
  if (ec) throw platform::posixError(ec.value(), "make " + path);
  if (::chmod(path.c_str(), 0700) != 0) throw platform::posixError(errno, "chmod " + path);
}

}  // namespace

Replica Replica::forDomain(const std::string& domain) {
  auto cache = platform::xdgCacheHome();
  if (!cache) throw platform::posixError(ENOENT, "no cache folder: neither XDG_CACHE_HOME nor HOME is set");
  makePrivateFolder(*cache + "/davfp");
  return Replica(*cache + "/davfp/" + folderName(domain));
}

Replica::Replica(std::string folder) : folder_(std::move(folder)) {
  makePrivateFolder(folder_);
  makePrivateFolder(folder_ + "/contents");
  makePrivateFolder(downloads());
  makePrivateFolder(trash());
}

std::string Replica::contents(Ino ino) const { return folder_ + "/contents/" + std::to_string(ino); }

int64_t Replica::size() const {
  int64_t total = 0;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(folder_ + "/contents", ec)) {
    struct stat st {};
    if (::stat(entry.path().c_str(), &st) == 0) total += static_cast<int64_t>(st.st_blocks) * 512;
  }
  return total;
}

}  // namespace davfp::mount
