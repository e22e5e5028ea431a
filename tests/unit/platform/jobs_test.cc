#include "platform/jobs.h"

#include <gtest/gtest.h>

#include <atomic>
#include <latch>
#include <thread>

#include "platform/error.h"

namespace davfp::platform {
namespace {

TEST(JobsTest, CancelEndsABlockingSleepAndIsVisibleInsideTheJob) {
  std::atomic<bool> slept{true};
  std::atomic<bool> sawCancel{false};
  Job job = spawn([&] {
    slept = sleepFor(std::chrono::hours(1));
    sawCancel = cancelled();
    EXPECT_THROW(checkCancellation(), Cancelled);
  });
  job.cancel();
  job.wait();
  EXPECT_FALSE(slept);
  EXPECT_TRUE(sawCancel);
  EXPECT_TRUE(job.done());
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

}  // namespace
}  // namespace davfp::platform
