// Jobs: independent units of work on a shared, elastic pool of worker threads.
//
// spawn() never queues a job behind a busy worker: when no worker is idle, the pool starts a new thread, so a
// job that blocks (on the network, on another job) can never starve the job it waits for. Idle workers retire
// after a while. Every job has its own stop source; inside a job, cancelled() and currentStopToken() read it
// (thread-locally, like a task-local value), and blocking waits in this layer end early when it is requested.
// All functions are thread-safe.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <stop_token>

namespace davfp::platform {

namespace detail {
struct JobState;
}

// A handle on a running or finished job. Copyable; all copies refer to the same job.
class Job {
 public:
  Job() = default;

  // Asks the job to stop. Cooperative: the job sees it at its next check or blocking wait.
  void cancel() const;
  bool cancelRequested() const;
  // Blocks until the job's function has returned (not cancellable; for tests and program shutdown).
  void wait() const;
  bool done() const;

 private:
  friend Job spawn(std::function<void()> fn);
  explicit Job(std::shared_ptr<detail::JobState> state) : state_(std::move(state)) {}
  std::shared_ptr<detail::JobState> state_;
};

// Starts fn as a new job. Exceptions that escape fn are swallowed: a job reports its outcome itself.
Job spawn(std::function<void()> fn);

// The stop token of the job running on this thread; a token that is never stopped outside any job.
std::stop_token currentStopToken();

// True when the current job has been asked to stop.
bool cancelled();

// Throws Cancelled when the current job has been asked to stop.
void checkCancellation();

// Sleeps for d, or less when the current job is asked to stop. Returns false when it was.
bool sleepFor(std::chrono::nanoseconds d);

// Runs fn on this thread with token as the current stop token (the davfp program's main thread, tests).
void runWithStopToken(std::stop_token token, const std::function<void()>& fn);

// The pool as it is now, for tests that check that no job is left behind and no thread leaks.
struct PoolCounts {
  size_t workers = 0;  // threads of the pool, running a job or idle until they retire
  size_t jobs = 0;     // jobs spawned that have not yet returned
};
PoolCounts poolCountsForTesting();

}  // namespace davfp::platform
