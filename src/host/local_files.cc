#include "host/local_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "host/failure.h"
#include "platform/unique_fd.h"

namespace davfp::cli {

int64_t readableFileSize(const std::string& path) {
  platform::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd) throw localFailure(path, errno);
  struct stat st;
  if (::fstat(fd.get(), &st) != 0) throw localFailure(path, errno);
  if (S_ISDIR(st.st_mode)) throw localFailure(path, EISDIR);
  if (!S_ISREG(st.st_mode)) throw localFailure(path, EINVAL);
  return st.st_size;
}

std::string directoryOf(const std::string& path) {
  auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

void checkWritableDestination(const std::string& path) {
  if (path.empty()) throw localFailure(path, ENOENT);
  struct stat st;
  if (::stat(path.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) throw localFailure(path, EISDIR);
    if (::access(path.c_str(), W_OK) != 0) throw localFailure(path, errno);
  } else if (errno != ENOENT) {
    throw localFailure(path, errno);
  }
  checkWritableDirectory(directoryOf(path));
}

void checkWritableDirectory(const std::string& dir) {
  struct stat st;
  if (::stat(dir.c_str(), &st) != 0) throw localFailure(dir, errno);
  if (!S_ISDIR(st.st_mode)) throw localFailure(dir, ENOTDIR);
  if (::access(dir.c_str(), W_OK | X_OK) != 0) throw localFailure(dir, errno);
}

bool namesFolder(const std::string& path) {
  struct stat st;
  return (!path.empty() && path.back() == '/') || (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode));
}

std::string saveLocation(const std::string& local, const std::string& name) {
  if (local.empty()) return name;
  if (!namesFolder(local)) return local;
  return local.back() == '/' ? local + name : local + "/" + name;
}

namespace {

mode_t currentUmask() {
  mode_t mask = ::umask(0);
  ::umask(mask);
  return mask;
}

void copyInto(const std::string& from, const std::string& to) {
  platform::UniqueFd in(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
  if (!in) throw localFailure(from, errno);
  platform::UniqueFd out(::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
  if (!out) throw localFailure(to, errno);
  char buffer[1 << 16];
  for (;;) {
    ssize_t n = ::read(in.get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw localFailure(from, errno);
    if (n == 0) break;
    for (ssize_t done = 0; done < n;) {
      ssize_t w = ::write(out.get(), buffer + done, static_cast<size_t>(n - done));
      if (w < 0 && errno == EINTR) continue;
      if (w < 0) throw localFailure(to, errno);
      done += w;
    }
  }
  if (::close(out.release()) != 0) throw localFailure(to, errno);
}

}  // namespace

void placeFile(const std::string& from, const std::string& to) {
  if (::rename(from.c_str(), to.c_str()) == 0) {
    // The fetched file was private (0600); the saved one is an ordinary file of this user.
    ::chmod(to.c_str(), 0666 & ~currentUmask());
    return;
  }
  if (errno != EXDEV) throw localFailure(to, errno);
  copyInto(from, to);
  ::unlink(from.c_str());
}

}  // namespace davfp::cli
