// The pool's counts, which the load tests read to prove that no job is left running and no worker leaks.
#include <gtest/gtest.h>

#include <latch>
#include <vector>

#include "platform/jobs.h"

namespace davfp::platform {
namespace {

TEST(PoolCountsTest, CountJobsUntilTheyReturnAndWorkersUntilTheyRetire) {
  // Jobs of earlier tests in this process may still be winding down; none of these is counted twice.
  const PoolCounts before = poolCountsForTesting();
  constexpr size_t kJobs = 16;
  std::latch release(1);
  std::vector<Job> jobs;
  for (size_t i = 0; i < kJobs; ++i) jobs.push_back(spawn([&] { release.wait(); }));
  PoolCounts busy = poolCountsForTesting();
  EXPECT_GE(busy.jobs, kJobs);
  EXPECT_LE(busy.jobs, before.jobs + kJobs);
  EXPECT_GE(busy.workers, kJobs);  // no job ever waits for a worker

  release.count_down();
  for (auto& job : jobs) job.wait();
  PoolCounts after = poolCountsForTesting();
  EXPECT_LE(after.jobs, before.jobs);  // counted out by the time their handles say done
  EXPECT_GE(after.workers, kJobs);     // idle now, retiring only after a while
}

}  // namespace
}  // namespace davfp::platform
