// Pending<T>: one request made of the extension, from its start until its completion handler has answered.
// The handler holds the request's Completion: each of its calls is counted, since the contract allows exactly
// one, and the first outcome (a T, or the platform::Error delivered) is the request's; later ones are
// dropped. Copies of a Pending share the request. Thread-safe: any thread may complete it, any number may
// wait.
#pragma once

#include <atomic>
#include <chrono>
#include <exception>
#include <memory>
#include <stop_token>
#include <type_traits>
#include <utility>
#include <variant>

#include "client/errors.h"
#include "platform/error.h"
#include "platform/once.h"
#include "platform/progress.h"

namespace davfp::client {

template <class T>
class Pending {
 public:
  class Completion {
    using Value = std::conditional_t<std::is_void_v<T>, std::monostate, T>;

   public:
    // A call that delivers value. False when an outcome came first: the value is then the caller's to undo.
    bool deliver(Value value) requires(!std::is_void_v<T>) {
      calls_.fetch_add(1);
      return outcome_.deliver(std::move(value));
    }
    bool deliver() requires std::is_void_v<T> {
      calls_.fetch_add(1);
      return outcome_.claim();
    }
    // A call that delivers error; false when an outcome came first.
    bool fail(const platform::Error& error) {
      calls_.fetch_add(1);
      return outcome_.fail(std::make_exception_ptr(error));
    }

   private:
    friend class Pending;
    platform::Once<T> outcome_;
    std::atomic<int> calls_{0};
  };

  Pending() : completion_(std::make_shared<Completion>()) {}

  // What the request's completion handler captures.
  const std::shared_ptr<Completion>& completion() const { return completion_; }
  // The progress the request returned, through which a wait cancels it.
  void setProgress(std::shared_ptr<platform::Progress> progress) { progress_ = std::move(progress); }
  const std::shared_ptr<platform::Progress>& progress() const { return progress_; }

  // Blocks until the first outcome; returns its value or throws the platform::Error delivered. When cancel
  // asks to stop first, the request is cancelled through its progress and the wait goes on for the outcome
  // that brings (a cancelled request answers with the user-cancelled error); a request without a progress
  // (the current sync anchor) stops waiting at once with that error.
  T wait(std::stop_token cancel = {}) const {
    std::stop_callback onCancel(cancel, [this] {
      if (progress_) {
        progress_->cancel();
      } else {
        completion_->outcome_.fail(std::make_exception_ptr(cancelledError()));
      }
    });
    return completion_->outcome_.get();
  }

  // Blocks until the first outcome or until timeout has passed, cancelling nothing; true when there is an
  // outcome, which wait() then returns at once.
  bool waitFor(std::chrono::milliseconds timeout) const { return completion_->outcome_.waitFor(timeout); }

  // How often the completion handler has been called so far.
  int completions() const { return completion_->calls_.load(); }

 private:
  std::shared_ptr<Completion> completion_;
  std::shared_ptr<platform::Progress> progress_;
};

}  // namespace davfp::client
