// The one-shot outcome: of racing outcomes exactly one is taken, and waiters see that one.
#include "platform/once.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

namespace davfp::platform {
namespace {

TEST(OnceTest, OfRacingOutcomesExactlyOneIsTakenAndEveryWaiterSeesIt) {
  constexpr int kRounds = 200;
  for (int round = 0; round < kRounds; ++round) {
    Once<int> once;
    Once<> flag;
    std::atomic<int> taken{0}, claimed{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i) {
      threads.emplace_back([&, i] {
        bool won = i % 2 == 0 ? once.deliver(i) : once.fail(std::make_exception_ptr(std::runtime_error("e")));
        taken += won ? 1 : 0;
        claimed += flag.claim() ? 1 : 0;
      });
    }
    int seen = -1;
    try {
      seen = once.get();
    } catch (const std::runtime_error&) {
      seen = 1;  // an odd thread won
    }
    for (auto& t : threads) t.join();
    ASSERT_EQ(taken.load(), 1);
    ASSERT_EQ(claimed.load(), 1);
    // A later waiter sees the same outcome.
    try {
      EXPECT_EQ(once.get(), seen);
    } catch (const std::runtime_error&) {
      EXPECT_EQ(seen, 1);
    }
  }
}

TEST(OnceTest, AWaitEndsWhenAskedToStopOrAtItsTimeoutWithoutAnOutcome) {
  Once<std::string> once;
  std::stop_source stop;
  std::thread stopper([&] { stop.request_stop(); });
  EXPECT_FALSE(once.wait(stop.get_token()));
  stopper.join();
  EXPECT_FALSE(once.waitFor(std::chrono::milliseconds(1)));
  EXPECT_FALSE(once.done());
  EXPECT_TRUE(once.deliver("value"));
  EXPECT_TRUE(once.wait(stop.get_token()));
  EXPECT_EQ(once.take(), "value");
}

}  // namespace
}  // namespace davfp::platform
