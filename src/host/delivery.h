// Delivery<T>: the one outcome of one platform request or enumeration, handed from the engine's thread to the
// program's main thread, which waits for it. The first outcome wins and later ones are dropped: the contract
// promises exactly one, and a cancellation by the person at the terminal may race with it. Thread-safe.
#pragma once

#include <condition_variable>
#include <mutex>
#include <optional>
#include <utility>

#include "platform/error.h"

namespace davfp::cli {

template <class T>
class Delivery {
 public:
  // Returns false when an outcome was already delivered.
  bool deliver(T value) {
    {
      std::lock_guard guard(mu_);
      if (done_) return false;
      value_.emplace(std::move(value));
      done_ = true;
    }
    cv_.notify_all();
    return true;
  }

  bool fail(platform::Error error) {
    {
      std::lock_guard guard(mu_);
      if (done_) return false;
      error_.emplace(std::move(error));
      done_ = true;
    }
    cv_.notify_all();
    return true;
  }

  // Blocks until the outcome arrives; returns the value or throws the error.
  T wait() {
    std::unique_lock lock(mu_);
    cv_.wait(lock, [this] { return done_; });
    if (error_) throw *error_;
    return std::move(*value_);
  }

 private:
  std::mutex mu_;
  std::condition_variable cv_;
  bool done_ = false;                     // guarded by mu_
  std::optional<T> value_;                // guarded by mu_
  std::optional<platform::Error> error_;  // guarded by mu_
};

}  // namespace davfp::cli
