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
  std::string target = linkTarget(path);
  struct stat st;
  if (::stat(target.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) throw localFailure(path, EISDIR);
    if (::access(target.c_str(), W_OK) != 0) throw localFailure(path, errno);
    if (!S_ISREG(st.st_mode)) return;  // written in place: its directory is not touched
  } else if (errno != ENOENT) {
    throw localFailure(path, errno);
  }
  checkWritableDirectory(directoryOf(target));
}

std::string linkTarget(const std::string& path) {
  std::string target = path;
  for (int links = 0;; ++links) {
    struct stat st;
    if (::lstat(target.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return target;
    if (links == 40) return target;  // a loop: using it fails with ELOOP
    std::string text(static_cast<size_t>(st.st_size > 0 ? st.st_size : 4096) + 1, '\0');
    ssize_t n = ::readlink(target.c_str(), text.data(), text.size());
    if (n < 0) return target;
    text.resize(static_cast<size_t>(n));
    // A relative link is relative to the directory that holds the link.
    std::string dir = directoryOf(target);
    target = text.starts_with('/') || target.find('/') == std::string::npos
                 ? text
                 : (dir == "/" ? "/" : dir + "/") + text;
  }
}

bool writtenInPlace(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode);
}

std::string stagingDirectoryFor(const std::string& dest) {
  std::string target = linkTarget(dest);
  return writtenInPlace(target) ? std::string() : directoryOf(target);
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

// Copies a file into an open descriptor; failures name to.
void copyInto(const std::string& from, int out, const std::string& to) {
  platform::UniqueFd in(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
  if (!in) throw localFailure(from, errno);
  char buffer[1 << 16];
  for (;;) {
    ssize_t n = ::read(in.get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw localFailure(from, errno);
    if (n == 0) break;
    for (ssize_t done = 0; done < n;) {
      ssize_t w = ::write(out, buffer + done, static_cast<size_t>(n - done));
      if (w < 0 && errno == EINTR) continue;
      if (w < 0) throw localFailure(to, errno);
      done += w;
    }
  }
}

// Writes a file's contents to the file at to, which keeps its place (a device, a FIFO, a file on another
// file system).
void copyInto(const std::string& from, const std::string& to) {
  platform::UniqueFd out(::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
  if (!out) throw localFailure(to, errno);
  copyInto(from, out.get(), to);
  if (::close(out.release()) != 0) throw localFailure(to, errno);
}

}  // namespace

void placeFile(const std::string& from, const std::string& dest) {
  const std::string to = linkTarget(dest);
  if (writtenInPlace(to)) {
    copyInto(from, to);
    ::unlink(from.c_str());
    return;
  }
  if (::rename(from.c_str(), to.c_str()) == 0) {
    // The fetched file was private (0600); the saved one is an ordinary file of this user.
    ::chmod(to.c_str(), 0666 & ~currentUmask());
    return;
  }
  if (errno != EXDEV) throw localFailure(to, errno);
  copyInto(from, to);
  ::unlink(from.c_str());
}

void keepModificationDate(const std::string& path, std::optional<std::chrono::system_clock::time_point> date) {
  if (!date) return;
  const std::string target = linkTarget(path);
  if (writtenInPlace(target)) return;
  auto since = date->time_since_epoch();
  auto seconds = std::chrono::floor<std::chrono::seconds>(since);
  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;  // the access time stays
  times[1].tv_sec = static_cast<time_t>(seconds.count());
  times[1].tv_nsec = static_cast<long>(std::chrono::duration_cast<std::chrono::nanoseconds>(since - seconds).count());
  ::utimensat(AT_FDCWD, target.c_str(), times, 0);
}

void makeLocalFolder(const std::string& path) {
  if (::mkdir(path.c_str(), 0777) == 0) return;
  int err = errno;
  struct stat st;
  if (err == EEXIST && ::stat(path.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) return;
    err = ENOTDIR;
  }
  throw localFailure(path, err);
}

void writeToStandardOutput(const std::string& from) {
  copyInto(from, STDOUT_FILENO, "standard output");
  ::unlink(from.c_str());
}

}  // namespace davfp::cli
