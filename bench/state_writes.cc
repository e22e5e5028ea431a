#include "state_writes.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace davfp::bench {

StateWriteWatch::StateWriteWatch(const std::string& dir, std::string fileName) : fileName_(std::move(fileName)) {
  fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd_ < 0 || ::inotify_add_watch(fd_, dir.c_str(), IN_MOVED_FROM | IN_MOVED_TO) < 0) {
    int err = errno;
    if (fd_ >= 0) ::close(fd_);
    throw std::runtime_error("inotify on " + dir + ": " + std::strerror(err));
  }
}

StateWriteWatch::~StateWriteWatch() { ::close(fd_); }

long StateWriteWatch::count() {
  alignas(inotify_event) char buffer[64 * 1024];
  for (;;) {
    ssize_t n = ::read(fd_, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;  // EAGAIN: nothing more queued
    for (char* p = buffer; p < buffer + n;) {
      auto* event = reinterpret_cast<inotify_event*>(p);
      if ((event->mask & IN_MOVED_TO) && event->len > 0 && fileName_ == event->name) ++count_;
      p += sizeof(inotify_event) + event->len;
    }
  }
  return count_;
}

}  // namespace davfp::bench
