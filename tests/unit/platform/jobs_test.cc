#include "platform/jobs.h"

#include <gtest/gtest.h>

#include <atomic>
#include <latch>
#include <thread>

#include "platform/progress.h"
#include "platform/task.h"

namespace davfp::platform {
namespace {

TEST(JobsTest, CancelEndsABlockingSleepAndIsVisibleInsideTheJob) {
  std::atomic<bool> slept{true};
  std::atomic<bool> sawCancel{false};
  Job job = spawn([&] {
    slept = sleepFor(std::chrono::hours(1));
    sawCancel = cancelled();
    try {
      checkCancellation();
    } catch (const Cancelled&) {
      return;
    }
    sawCancel = false;
  });
  job.cancel();
  job.wait();
  EXPECT_FALSE(slept);
  EXPECT_TRUE(sawCancel);
  EXPECT_TRUE(job.done());
}

TEST(JobsTest, OutsideAJobNothingIsCancelled) {
  EXPECT_FALSE(cancelled());
  EXPECT_TRUE(sleepFor(std::chrono::milliseconds(1)));
}

TEST(JobsTest, PoolGrowsSoThatJobsWaitingOnEachOtherNeverStarve) {
  // Every job waits until all have started: a bounded pool would deadlock here.
  constexpr int kJobs = 64;
  std::latch allStarted(kJobs);
  std::vector<Job> jobs;
  for (int i = 0; i < kJobs; ++i) {
    jobs.push_back(spawn([&] { allStarted.arrive_and_wait(); }));
  }
  for (auto& job : jobs) job.wait();
}

TEST(TaskTest, SharesOneOutcomeAmongWaiters) {
  std::atomic<int> runs{0};
  std::latch release(1);
  Task<int> task = spawnTask([&] {
    runs++;
    release.wait();
    return 42;
  });
  std::vector<Job> waiters;
  std::atomic<int> sum{0};
  for (int i = 0; i < 8; ++i) waiters.push_back(spawn([&] { sum += task.get(); }));
  release.count_down();
  for (auto& w : waiters) w.wait();
  EXPECT_EQ(sum, 8 * 42);
  EXPECT_EQ(runs, 1);
}

TEST(TaskTest, RethrowsTheTasksError) {
  Task<int> task = spawnTask([]() -> int { throw std::runtime_error("boom"); });
  EXPECT_THROW(task.get(), std::runtime_error);
}

TEST(TaskTest, ACancelledWaiterStopsWaitingButTheTaskRunsOn) {
  std::latch release(1);
  Task<int> task = spawnTask([&] {
    release.wait();
    return 5;
  });
  std::atomic<bool> waiterCancelled{false};
  Job waiter = spawn([&] {
    try {
      task.get();
    } catch (const Cancelled&) {
      waiterCancelled = true;
    }
  });
  waiter.cancel();
  waiter.wait();
  EXPECT_TRUE(waiterCancelled);
  release.count_down();
  EXPECT_EQ(task.get(), 5);
}

TEST(ProgressTest, HandlerRunsOnceAndAtOnceWhenInstalledLate) {
  Progress progress(1);
  int runs = 0;
  progress.setCancellationHandler([&] { runs++; });
  progress.cancel();
  progress.cancel();
  EXPECT_EQ(runs, 1);
  EXPECT_TRUE(progress.isCancelled());
  int late = 0;
  progress.setCancellationHandler([&] { late++; });
  EXPECT_EQ(late, 1);
}

}  // namespace
}  // namespace davfp::platform
