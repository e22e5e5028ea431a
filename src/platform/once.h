// Once<T>: the outcome of something that may end in more than one way (a result, an error, a cancellation
// racing with them). The first outcome wins and every later one is refused; waiters block until it is there.
// Once<> holds no value: a one-shot flag, of which exactly one claim() over its life returns true.
// Thread-safe.
#pragma once

#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <optional>
#include <stop_token>
#include <type_traits>
#include <utility>
#include <variant>

#include "platform/mutex.h"

namespace davfp::platform {

template <class T = void>
class Once {
  using Value = std::conditional_t<std::is_void_v<T>, std::monostate, T>;

 public:
  // Takes value as the outcome. False, and the value is dropped, when there is an outcome already.
  bool deliver(Value value) requires(!std::is_void_v<T>) { return settle(std::move(value), nullptr); }
  // Takes the outcome of a Once<>: true for the first call only.
  bool claim() requires std::is_void_v<T> { return settle(Value{}, nullptr); }
  // Takes error as the outcome; false when there is an outcome already.
  bool fail(std::exception_ptr error) { return settle(std::nullopt, std::move(error)); }

  bool done() const {
    MutexLock lock(mu_);
    return done_;
  }

  // Blocks until there is an outcome, or until token asks to stop first; true when there is an outcome.
  bool wait(std::stop_token token = {}) const {
    MutexLock lock(mu_);
    return cv_.wait(mu_, std::move(token), isDone());
  }

  // Blocks until there is an outcome or timeout has passed; true when there is an outcome.
  bool waitFor(std::chrono::milliseconds timeout) const {
    MutexLock lock(mu_);
    return cv_.waitFor(mu_, {}, timeout, isDone());
  }

  // Blocks until there is an outcome; returns a copy of its value, or rethrows its error.
  T get() const {
    MutexLock lock(mu_);
    cv_.wait(mu_, {}, isDone());
    if (error_) std::rethrow_exception(error_);
    if constexpr (!std::is_void_v<T>) return *value_;
  }

  // get() for the one waiter that keeps the value: moves it out. Call at most once.
  T take() {
    MutexLock lock(mu_);
    cv_.wait(mu_, {}, isDone());
    if (error_) std::rethrow_exception(error_);
    if constexpr (!std::is_void_v<T>) return std::move(*value_);
  }

 private:
  // The waits' condition; they call it with mu_ held.
  auto isDone() const {
    return [this]() NO_THREAD_SAFETY_ANALYSIS { return done_; };
  }

  bool settle(std::optional<Value> value, std::exception_ptr error) {
    {
      MutexLock lock(mu_);
      if (done_) return false;
      done_ = true;
      value_ = std::move(value);
      error_ = std::move(error);
    }
    cv_.notifyAll();
    return true;
  }

  mutable Mutex mu_;
  mutable StoppableCondVar cv_;
  bool done_ GUARDED_BY(mu_) = false;
  std::optional<Value> value_ GUARDED_BY(mu_);
  std::exception_ptr error_ GUARDED_BY(mu_);
};

}  // namespace davfp::platform
