// FileLock: an exclusive lock on a file, for processes that must not work on the same thing at once. It is
// the kernel's lock on an open file (flock): held while the FileLock lives, released when it goes or when the
// process ends however it ends (a crash leaves nothing to clean up), and never inherited by the programs the
// process starts. Two FileLocks on one file exclude each other within one process too. The holder writes its
// process identifier into the file, so that a process that finds the lock taken can say who has it.
// A FileLock is a value for one thread; the static functions are thread-safe.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <stop_token>
#include <string>

#include "platform/unique_fd.h"

namespace davfp::platform {

class FileLock {
 public:
  struct Holder {
    long pid = 0;         // 0 when it cannot be told
    std::string command;  // its command line, the arguments separated by spaces; empty when unreadable
  };

  // Takes the lock on the file at path (created with mode 0600 when missing) when no one holds it; nothing
  // when another does. Throws Error (POSIX) when the file cannot be opened or locked.
  static std::optional<FileLock> tryTake(const std::string& path);

  // Takes the lock, waiting for as long as another holds it. When it is still held after patience,
  // waiting(holder) is called once, on the calling thread, while the wait goes on. Nothing when stop is
  // requested before the lock is free: the wait ends at once. Throws as tryTake does.
  static std::optional<FileLock> take(const std::string& path, std::chrono::milliseconds patience,
                                      const std::function<void(const Holder&)>& waiting,
                                      std::stop_token stop);

  // Who holds the lock on the file at path, as far as the file and the process table tell.
  static Holder holder(const std::string& path);

  FileLock(FileLock&&) = default;
  FileLock& operator=(FileLock&&) = default;

 private:
  explicit FileLock(UniqueFd fd);

  UniqueFd fd_;  // open on the file, holding the lock
};

}  // namespace davfp::platform
