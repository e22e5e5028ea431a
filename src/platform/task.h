// Task<T>: a job that yields a value or an error, awaited by any number of callers.
//
// Waiting is cancellable per waiter: a caller whose own job is cancelled stops waiting (Cancelled), while the
// task itself runs on, since it has a stop source of its own. Thread-safe.
#pragma once

#include <exception>
#include <memory>
#include <type_traits>

#include "platform/error.h"
#include "platform/jobs.h"
#include "platform/once.h"

namespace davfp::platform {

template <class T>
class Task {
 public:
  Task() = default;

  // Waits for the task's outcome: returns its value or rethrows its error. Throws Cancelled when the waiting
  // job is asked to stop first.
  T get() const {
    if (!outcome_->wait(currentStopToken())) throw Cancelled();
    return outcome_->get();
  }

  const Job& job() const { return job_; }

  template <class F>
  friend Task<std::invoke_result_t<F>> spawnTask(F fn);

 private:
  std::shared_ptr<Once<T>> outcome_;
  Job job_;
};

template <class F>
Task<std::invoke_result_t<F>> spawnTask(F fn) {
  using T = std::invoke_result_t<F>;
  Task<T> task;
  task.outcome_ = std::make_shared<Once<T>>();
  task.job_ = spawn([outcome = task.outcome_, fn = std::move(fn)]() mutable {
    try {
      outcome->deliver(fn());
    } catch (...) {
      outcome->fail(std::current_exception());
    }
  });
  return task;
}

}  // namespace davfp::platform
