// Mutex, MutexLock and CondVar: the standard library's mutex and condition variable, annotated for clang's
// thread-safety analysis (see thread_annotations.h), which the standard library's own types are not.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stop_token>

#include "platform/thread_annotations.h"

namespace davfp::platform {

class CAPABILITY("mutex") Mutex {
 public:
  Mutex() = default;
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;

  void lock() ACQUIRE() { mu_.lock(); }
  void unlock() RELEASE() { mu_.unlock(); }

 private:
  friend class CondVar;
  std::mutex mu_;
};

// Holds a Mutex for its scope; unlock() and lock() let go of it and take it again inside the scope.
class SCOPED_CAPABILITY MutexLock {
 public:
  explicit MutexLock(Mutex& mu) ACQUIRE(mu) : mu_(mu) { mu_.lock(); }
  ~MutexLock() RELEASE() {
    if (held_) mu_.unlock();
  }
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

  void unlock() RELEASE() {
    mu_.unlock();
    held_ = false;
  }
  void lock() ACQUIRE() {
    mu_.lock();
    held_ = true;
  }

 private:
  Mutex& mu_;
  bool held_ = true;
};

// A condition variable whose waits name the Mutex they release while waiting; the caller holds it.
class CondVar {
 public:
  void wait(Mutex& mu) REQUIRES(mu) {
    std::unique_lock lock(mu.mu_, std::adopt_lock);
    cv_.wait(lock);
    lock.release();
  }
  // False when the time ran out.
  template <class Clock, class Duration>
  bool waitUntil(Mutex& mu, std::chrono::time_point<Clock, Duration> deadline) REQUIRES(mu) {
    std::unique_lock lock(mu.mu_, std::adopt_lock);
    bool woken = cv_.wait_until(lock, deadline) == std::cv_status::no_timeout;
    lock.release();
    return woken;
  }
  template <class Rep, class Period>
  bool waitFor(Mutex& mu, std::chrono::duration<Rep, Period> timeout) REQUIRES(mu) {
    return waitUntil(mu, std::chrono::steady_clock::now() + timeout);
  }
  void notifyOne() { cv_.notify_one(); }
  void notifyAll() { cv_.notify_all(); }

 private:
  std::condition_variable cv_;
};

// A condition variable whose waits also end when a stop is requested (std::condition_variable_any).
class StoppableCondVar {
 public:
  // Waits until done() or a stop request; returns done(). done runs with mu held.
  template <class Done>
  bool wait(Mutex& mu, std::stop_token token, Done done) REQUIRES(mu) {
    return cv_.wait(mu, std::move(token), done);
  }
  // The same, also ending when timeout has passed.
  template <class Rep, class Period, class Done>
  bool waitFor(Mutex& mu, std::stop_token token, std::chrono::duration<Rep, Period> timeout, Done done)
      REQUIRES(mu) {
    return cv_.wait_for(mu, std::move(token), timeout, done);
  }
  void notifyOne() { cv_.notify_one(); }
  void notifyAll() { cv_.notify_all(); }

 private:
  std::condition_variable_any cv_;
};

}  // namespace davfp::platform
