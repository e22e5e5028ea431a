// The standard Env: XDG base directories, POSIX files, freedesktop applications and MIME types.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "platform/desktop_apps.h"
#include "platform/env.h"
#include "platform/error.h"
#include "platform/jobs.h"
#include "platform/mime_registry.h"

namespace davfp::platform {

std::string joinPath(std::string_view dir, std::string_view name) {
  std::string out(dir);
  if (out.empty() || out.back() != '/') out += '/';
  out += name;
  return out;
}

namespace {

// An environment variable that names an absolute directory, or none.
std::optional<std::string> absoluteFromEnv(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr || value[0] != '/') return std::nullopt;
  return std::string(value);
}

// $<xdgVar>, else $HOME/<fallback>, or none when neither gives a directory.
std::optional<std::string> xdgDir(const char* xdgVar, std::string_view fallback) {
  if (auto dir = absoluteFromEnv(xdgVar)) return dir;
  if (auto home = absoluteFromEnv("HOME")) return joinPath(*home, fallback);
  return std::nullopt;
}

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }
  int release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

void writeAll(int fd, std::string_view bytes, const std::string& what) {
  while (!bytes.empty()) {
    ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      throw posixError(errno, "write " + what);
    }
    bytes.remove_prefix(static_cast<size_t>(n));
  }
}

std::string directoryOf(const std::string& path) {
  auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// The temporary files of atomic writes to a path are named path + kTemporarySuffix + six random characters.
constexpr std::string_view kTemporarySuffix = ".tmp-";

// Removes the temporary files that interrupted atomic writes to path left behind (a process killed between
// creating one and renaming it), once per path and process. A write to path that another process runs at the
// same moment may lose its temporary file and so fail; it never leaves a partial file in place of path.
void removeLeftovers(const std::string& path) {
  static std::mutex mu;
  static auto* swept = new std::set<std::string>;  // never destroyed: used by detached jobs at exit
  {
    std::lock_guard lock(mu);
    if (!swept->insert(path).second) return;
  }
  std::string dir = directoryOf(path);
  std::string prefix = path.substr(path.rfind('/') + 1) + std::string(kTemporarySuffix);
  std::unique_ptr<DIR, int (*)(DIR*)> stream(::opendir(dir.c_str()), ::closedir);
  if (!stream) return;
  while (dirent* entry = ::readdir(stream.get())) {
    std::string_view name(entry->d_name);
    if (name.size() == prefix.size() + 6 && name.starts_with(prefix)) {
      ::unlinkat(::dirfd(stream.get()), entry->d_name, 0);
    }
  }
}

void copyFile(const std::string& from, const std::string& to) {
  FileDescriptor in(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
  if (in.get() < 0) throw posixError(errno, "open " + from);
  FileDescriptor out(::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
  if (out.get() < 0) throw posixError(errno, "create " + to);
  char buffer[1 << 16];
  for (;;) {
    ssize_t n = ::read(in.get(), buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      int err = errno;
      ::unlink(to.c_str());
      throw posixError(err, "read " + from);
    }
    if (n == 0) break;
    try {
      writeAll(out.get(), std::string_view(buffer, static_cast<size_t>(n)), to);
    } catch (...) {
      ::unlink(to.c_str());
      throw;
    }
  }
}

class StandardEnv final : public Env {
 public:
  std::optional<std::string> groupContainer(std::string_view appGroup) override {
    auto base = xdgDir("XDG_DATA_HOME", ".local/share");
    if (!base) return std::nullopt;
    return joinPath(*base, appGroup);
  }

  std::optional<std::string> applicationDataDirectory(std::string_view bundleID) override {
    auto base = xdgDir("XDG_STATE_HOME", ".local/state");
    if (!base) return std::nullopt;
    return joinPath(*base, bundleID);
  }

  std::string temporaryDirectory() override {
    if (auto dir = absoluteFromEnv("TMPDIR")) return *dir;
    return "/tmp";
  }

  std::string readFile(const std::string& path) override {
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) throw posixError(errno, "open " + path);
    struct stat st;
    if (::fstat(fd.get(), &st) != 0) throw posixError(errno, "stat " + path);
    if (S_ISDIR(st.st_mode)) throw posixError(EISDIR, "read " + path);
    std::string out;
    if (st.st_size > 0) out.reserve(static_cast<size_t>(st.st_size));
    char buffer[1 << 16];
    for (;;) {
      ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
      if (n < 0) {
        if (errno == EINTR) continue;
        throw posixError(errno, "read " + path);
      }
      if (n == 0) break;
      out.append(buffer, static_cast<size_t>(n));
    }
    return out;
  }

  void writeFileAtomically(const std::string& path, std::string_view bytes) override {
    removeLeftovers(path);
    std::string temp = path + std::string(kTemporarySuffix) + "XXXXXX";
    FileDescriptor fd(::mkostemp(temp.data(), O_CLOEXEC));  // exclusive, mode 0600
    if (fd.get() < 0) throw posixError(errno, "create " + temp);
    try {
      writeAll(fd.get(), bytes, temp);
      if (::fsync(fd.get()) != 0) throw posixError(errno, "sync " + temp);
      if (::close(fd.release()) != 0) throw posixError(errno, "close " + temp);
      if (::rename(temp.c_str(), path.c_str()) != 0) throw posixError(errno, "rename " + temp);
    } catch (...) {
      ::unlink(temp.c_str());
      throw;
    }
    // Make the rename itself durable; a failure here leaves a complete file in place, so it is not reported.
    FileDescriptor dir(::open(directoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0) ::fsync(dir.get());
  }

  void createDirectories(const std::string& path) override {
    std::string partial;
    size_t start = 0;
    while (start <= path.size()) {
      size_t slash = path.find('/', start);
      if (slash == std::string::npos) slash = path.size();
      partial = path.substr(0, slash);
      start = slash + 1;
      if (partial.empty()) continue;
      if (::mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST) throw posixError(errno, "mkdir " + partial);
    }
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) throw posixError(errno, "stat " + path);
    if (!S_ISDIR(st.st_mode)) throw posixError(ENOTDIR, "mkdir " + path);
  }

  void removeFile(const std::string& path) override {
    if (::unlink(path.c_str()) != 0) throw posixError(errno, "remove " + path);
  }

  void moveFile(const std::string& from, const std::string& to) override {
    if (::rename(from.c_str(), to.c_str()) == 0) return;
    if (errno != EXDEV) throw posixError(errno, "move " + from);
    copyFile(from, to);
    ::unlink(from.c_str());
  }

  std::optional<std::string> applicationLocation(std::string_view bundleID) override {
    return findDesktopEntry(bundleID);
  }

  void openApplication(const std::string& location, const std::vector<std::string>& arguments) override {
    startDesktopEntry(location, arguments);
  }

  std::optional<std::string> typeForFilenameExtension(std::string_view extension) override {
    return mimeTypeForExtension(extension);
  }

  std::chrono::steady_clock::time_point now() override { return std::chrono::steady_clock::now(); }
  bool sleepFor(std::chrono::nanoseconds d) override { return platform::sleepFor(d); }
};

}  // namespace

Env& Env::standard() {
  static StandardEnv* env = new StandardEnv;  // never destroyed: used by detached jobs at exit
  return *env;
}

}  // namespace davfp::platform
