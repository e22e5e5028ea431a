#include "platform/file_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/error.h"
#include "platform/mutex.h"

namespace davfp::platform {

namespace {

UniqueFd openLockFile(const std::string& path) {
  // O_CLOEXEC: a program started while the lock is held (the host application) must not keep it.
  UniqueFd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
  // A lock file that this user may only read still locks.
  if (!fd && errno == EACCES) fd.reset(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd) throw posixError(errno, "open " + path);
  return fd;
}

// flock, again after a signal; false when another holds the lock and the call was not to wait.
bool lockFd(int fd, bool wait, const std::string& path) {
  for (;;) {
    if (::flock(fd, LOCK_EX | (wait ? 0 : LOCK_NB)) == 0) return true;
    if (errno == EINTR) continue;
    if (errno == EWOULDBLOCK) return false;
    throw posixError(errno, "lock " + path);
  }
}

// The holder's name in the file: its process identifier. Written over the previous holder's and then cut to
// its length, so that a reader never finds the file empty once a holder has written it. Failures are of no
// consequence to the lock (a read-only file): a waiting process then cannot name the holder.
void writeHolder(int fd) {
  std::string text = std::to_string(::getpid()) + "\n";
  if (::pwrite(fd, text.data(), text.size(), 0) != static_cast<ssize_t>(text.size())) return;
  // Left longer, the file still reads right: the identifier ends at the first line break.
  if (::ftruncate(fd, static_cast<off_t>(text.size())) != 0) return;
}

std::string readSmallFile(const std::string& path, size_t limit) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd) return {};
  std::string out(limit, '\0');
  size_t got = 0;
  while (got < limit) {
    ssize_t n = ::read(fd.get(), out.data() + got, limit - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  out.resize(got);
  return out;
}

// A process's command line from /proc: the program's file name and the arguments, separated by spaces.
std::string commandOf(long pid) {
  std::string raw = readSmallFile("/proc/" + std::to_string(pid) + "/cmdline", 4096);
  while (!raw.empty() && raw.back() == '\0') raw.pop_back();
  if (raw.empty()) return {};
  size_t programEnd = raw.find('\0');
  std::string program = raw.substr(0, programEnd);
  if (auto slash = program.rfind('/'); slash != std::string::npos) program.erase(0, slash + 1);
  std::string rest = programEnd == std::string::npos ? "" : raw.substr(programEnd);
  for (char& c : rest) {
    if (c == '\0') c = ' ';
  }
  return program + rest;
}

}  // namespace

FileLock::FileLock(UniqueFd fd) : fd_(std::move(fd)) { writeHolder(fd_.get()); }

std::optional<FileLock> FileLock::tryTake(const std::string& path) {
  UniqueFd fd = openLockFile(path);
  if (!lockFd(fd.get(), false, path)) return std::nullopt;
  return FileLock(std::move(fd));
}

std::optional<FileLock> FileLock::take(const std::string& path, std::chrono::milliseconds patience,
                                       const std::function<void(const Holder&)>& waiting,
                                       std::stop_token stop) {
  if (auto lock = tryTake(path)) return lock;
  // A blocking flock cannot be called off, so it waits on a thread of its own; a caller that stops waiting
  // leaves it behind, and the lock it may still get is released at once.
  struct Wait {
    Mutex mu;
    StoppableCondVar cv;
    bool done GUARDED_BY(mu) = false;
    bool abandoned GUARDED_BY(mu) = false;
    UniqueFd fd GUARDED_BY(mu);  // holds the lock once done without error
    std::optional<Error> error GUARDED_BY(mu);
  };
  auto wait = std::make_shared<Wait>();
  std::thread([wait, path, fd = openLockFile(path)]() mutable {
    std::optional<Error> error;
    try {
      lockFd(fd.get(), true, path);
    } catch (const Error& e) {
      error = e;
    }
    MutexLock lock(wait->mu);
    if (wait->abandoned) return;  // fd closes here, releasing the lock
    wait->fd = std::move(fd);
    wait->error = std::move(error);
    wait->done = true;
    wait->cv.notifyAll();
  }).detach();

  MutexLock lock(wait->mu);
  // The predicates run with the lock held, inside the waits.
  auto done = [&]() NO_THREAD_SAFETY_ANALYSIS { return wait->done; };
  if (!wait->cv.waitFor(wait->mu, stop, patience, done) && !stop.stop_requested()) {
    lock.unlock();
    waiting(holder(path));
    lock.lock();
    wait->cv.wait(wait->mu, stop, done);
  }
  if (!wait->done) {
    wait->abandoned = true;
    return std::nullopt;
  }
  if (wait->error) throw *wait->error;
  return FileLock(std::move(wait->fd));
}

FileLock::Holder FileLock::holder(const std::string& path) {
  Holder out;
  std::string text = readSmallFile(path, 32);
  size_t digits = text.find_first_not_of("0123456789");
  if (digits == 0 || digits == std::string::npos || text[digits] != '\n' || digits > 9) return out;
  out.pid = std::stol(text.substr(0, digits));
  out.command = commandOf(out.pid);
  return out;
}

}  // namespace davfp::platform
