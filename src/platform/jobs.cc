#include "platform/jobs.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "platform/error.h"
#include "platform/mutex.h"

namespace davfp::platform {

namespace detail {
struct JobState {
  std::function<void()> fn;
  std::stop_source stop;
  Mutex mu;
  CondVar cv;
  bool done GUARDED_BY(mu) = false;
};
}  // namespace detail

namespace {

thread_local std::stop_token tCurrentToken;

// Workers wait this long for new work before they retire.
constexpr auto kIdleRetirement = std::chrono::seconds(20);

class Pool {
 public:
  void submit(std::shared_ptr<detail::JobState> job) EXCLUDES(mu_) {
    MutexLock lock(mu_);
    queue_.push_back(std::move(job));
    if (queue_.size() > idle_) {
      // Every idle worker already has a job waiting for it: start one more.
      std::thread([this] { work(); }).detach();
      ++workers_;
    } else {
      cv_.notifyOne();
    }
  }

  PoolCounts counts() EXCLUDES(mu_) {
    MutexLock lock(mu_);
    return PoolCounts{.workers = workers_, .jobs = running_ + queue_.size()};
  }

 private:
  void work() EXCLUDES(mu_) {
    MutexLock lock(mu_);
    for (;;) {
      if (queue_.empty()) {
        ++idle_;
        const auto retirement = std::chrono::steady_clock::now() + kIdleRetirement;
        while (queue_.empty() && cv_.waitUntil(mu_, retirement)) {
        }
        --idle_;
        if (queue_.empty()) {
          --workers_;
          return;
        }
      }
      auto job = std::move(queue_.front());
      queue_.pop_front();
      ++running_;
      lock.unlock();
      run(*job);
      lock.lock();
      // Counted out before it is marked done, so that a waiter finds the counts settled.
      --running_;
      lock.unlock();
      markDone(*job);
      lock.lock();
    }
  }

  static void run(detail::JobState& job) {
    tCurrentToken = job.stop.get_token();
    try {
      job.fn();
    } catch (...) {
      // A job reports its own outcome; nothing may escape into the pool.
    }
    job.fn = nullptr;
    tCurrentToken = std::stop_token();
  }

  static void markDone(detail::JobState& job) {
    {
      MutexLock lock(job.mu);
      job.done = true;
    }
    job.cv.notifyAll();
  }

  Mutex mu_;
  CondVar cv_;
  std::deque<std::shared_ptr<detail::JobState>> queue_ GUARDED_BY(mu_);
  size_t idle_ GUARDED_BY(mu_) = 0;     // workers waiting for work
  size_t workers_ GUARDED_BY(mu_) = 0;  // workers started, not retired
  size_t running_ GUARDED_BY(mu_) = 0;  // jobs taken from the queue
};

Pool& pool() {
  // Never destroyed: detached workers may still run while the process exits.
  static Pool* p = new Pool;
  return *p;
}

}  // namespace

void Job::cancel() const {
  if (state_) state_->stop.request_stop();
}

bool Job::cancelRequested() const { return state_ && state_->stop.stop_requested(); }

void Job::wait() const {
  if (!state_) return;
  MutexLock lock(state_->mu);
  while (!state_->done) state_->cv.wait(state_->mu);
}

bool Job::done() const {
  if (!state_) return true;
  MutexLock lock(state_->mu);
  return state_->done;
}

Job spawn(std::function<void()> fn) {
  auto state = std::make_shared<detail::JobState>();
  state->fn = std::move(fn);
  pool().submit(state);
  return Job(std::move(state));
}

std::stop_token currentStopToken() { return tCurrentToken; }

bool cancelled() { return tCurrentToken.stop_requested(); }

void checkCancellation() {
  if (cancelled()) throw Cancelled();
}

bool sleepFor(std::chrono::nanoseconds d) {
  std::mutex mu;
  std::condition_variable_any cv;
  std::unique_lock lock(mu);
  cv.wait_for(lock, tCurrentToken, d, [] { return false; });
  return !tCurrentToken.stop_requested();
}

PoolCounts poolCountsForTesting() { return pool().counts(); }

void runWithStopToken(std::stop_token token, const std::function<void()>& fn) {
  auto saved = tCurrentToken;
  tCurrentToken = std::move(token);
  try {
    fn();
  } catch (...) {
    tCurrentToken = saved;
    throw;
  }
  tCurrentToken = saved;
}

}  // namespace davfp::platform
