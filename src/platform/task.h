// Task<T>: a job that yields a value or an error, awaited by any number of callers.
//
// Waiting is cancellable per waiter: a caller whose own job is cancelled stops waiting (Cancelled), while the
// task itself runs on, since it has a stop source of its own. Thread-safe.
#pragma once

#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <type_traits>

#include "platform/error.h"
#include "platform/jobs.h"

namespace davfp::platform {

template <class T>
class Task {
 public:
  Task() = default;

  // Waits for the task's outcome: returns its value or rethrows its error. Throws Cancelled when the waiting
  // job is asked to stop first.
  T get() const {
    std::unique_lock lock(state_->mu);
    std::stop_token token = currentStopToken();
    state_->cv.wait(lock, token, [this] { return state_->finished; });
    if (!state_->finished) throw Cancelled();
    if (state_->error) std::rethrow_exception(state_->error);
    return *state_->value;
  }

  const Job& job() const { return job_; }

  template <class F>
  friend Task<std::invoke_result_t<F>> spawnTask(F fn);

 private:
  struct State {
    std::mutex mu;
    std::condition_variable_any cv;
    bool finished = false;          // guarded by mu
    std::optional<T> value;         // guarded by mu
    std::exception_ptr error;       // guarded by mu
  };
  std::shared_ptr<State> state_;
  Job job_;
};

template <class F>
Task<std::invoke_result_t<F>> spawnTask(F fn) {
  using T = std::invoke_result_t<F>;
  Task<T> task;
  task.state_ = std::make_shared<typename Task<T>::State>();
  task.job_ = spawn([state = task.state_, fn = std::move(fn)]() mutable {
    std::optional<T> value;
    std::exception_ptr error;
    try {
      value.emplace(fn());
    } catch (...) {
      error = std::current_exception();
    }
    {
      std::lock_guard guard(state->mu);
      state->value = std::move(value);
      state->error = error;
      state->finished = true;
    }
    state->cv.notify_all();
  });
  return task;
}

}  // namespace davfp::platform
