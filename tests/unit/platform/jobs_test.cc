#include "platform/jobs.h"

#include <gtest/gtest.h>

#include <atomic>
#include <latch>
#include <thread>

#include "platform/error.h"
#include "platform/progress.h"

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
