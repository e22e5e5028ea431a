#include "dav/server_cache.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <latch>
#include <mutex>
#include <thread>
#include <vector>

#include "dav/entry.h"
#include "platform/error.h"
#include "platform/jobs.h"
#include "platform/task.h"

namespace davfp {
namespace {

// A resolve operation that the test releases: it counts its runs, records whether it saw itself cancelled,
// and returns the URL (or throws the error) it is given.
class HeldResolve {
 public:
  ServerCache::Resolve operation() {
    return [this] {
      std::unique_lock lock(mu_);
      ++runs_;
      ++running_;
      cv_.notify_all();
      cv_.wait(lock, [this] { return released_; });
      --running_;
      sawCancel_ = sawCancel_ || platform::cancelled();
      if (error_) throw *error_;
      return url_;
    };
  }
  void release(std::string url) {
    std::lock_guard guard(mu_);
    url_ = std::move(url);
    released_ = true;
    cv_.notify_all();
  }
  void fail(DavError error) {
    std::lock_guard guard(mu_);
    error_ = error;
    released_ = true;
    cv_.notify_all();
  }
  bool waitRunning() {
    std::unique_lock lock(mu_);
    return cv_.wait_for(lock, std::chrono::seconds(30), [this] { return running_ > 0; });
  }
  int runs() const {
    std::lock_guard guard(mu_);
    return runs_;
  }
  bool sawCancel() const {
    std::lock_guard guard(mu_);
    return sawCancel_;
  }

 private:
  mutable std::mutex mu_;
  std::condition_variable cv_;
  int runs_ = 0;     // guarded by mu_
  int running_ = 0;  // guarded by mu_
  bool released_ = false;
  bool sawCancel_ = false;
  std::string url_;
  std::optional<DavError> error_;
};

ServerCache::Resolve constant(std::string url, std::atomic<int>& runs) {
  return [url = std::move(url), &runs] {
    ++runs;
    return url;
  };
}

TEST(ServerCacheTest, ConcurrentCallersOnAColdCacheShareOneResolution) {
  ServerCache cache;
  HeldResolve resolve;
  constexpr int kCallers = 8;
  std::latch started(kCallers);
  std::vector<platform::Task<std::string>> callers;
  for (int i = 0; i < kCallers; ++i) {
    callers.push_back(platform::spawnTask([&] {
      started.count_down();
      return cache.get(std::nullopt, resolve.operation());
    }));
  }
  started.wait();
  ASSERT_TRUE(resolve.waitRunning());
  resolve.release("http://a/");
  for (auto& caller : callers) EXPECT_EQ(caller.get(), "http://a/");
  EXPECT_EQ(resolve.runs(), 1);

  // Cached now: nothing runs again.
  std::atomic<int> runs = 0;
  EXPECT_EQ(cache.get(std::nullopt, constant("http://b/", runs)), "http://a/");
  EXPECT_EQ(runs, 0);
}

TEST(ServerCacheTest, ReplacesOnlyTheURLThatIsReportedStale) {
  ServerCache cache;
  std::atomic<int> runs = 0;
  EXPECT_EQ(cache.get(std::nullopt, constant("http://a/", runs)), "http://a/");
  struct Case {
    const char* what;
    std::optional<std::string> stale;
    std::string resolves;
    std::string expected;
    int runs;
  } cases[] = {
      {"no stale URL", std::nullopt, "http://x/", "http://a/", 0},
      {"another URL is stale", "http://old/", "http://x/", "http://a/", 0},
      {"the cached URL is stale", "http://a/", "http://b/", "http://b/", 1},
      // A caller that still holds the URL another caller has replaced gets the new one without a resolution.
      {"already replaced", "http://a/", "http://x/", "http://b/", 0},
      {"differs only by a trailing slash", "http://b", "http://x/", "http://b/", 0},
      // Resolution may find the very same URL again; reporting it stale once more resolves once more.
      {"the same URL resolved again", "http://b/", "http://b/", "http://b/", 1},
      {"and again", "http://b/", "http://c/", "http://c/", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    runs = 0;
    EXPECT_EQ(cache.get(c.stale, constant(c.resolves, runs)), c.expected);
    EXPECT_EQ(runs, c.runs);
  }
}

TEST(ServerCacheTest, AFailedResolutionReachesEveryWaiterAndCachesNothing) {
  ServerCache cache;
  HeldResolve resolve;
  auto first = platform::spawnTask([&] { return cache.get(std::nullopt, resolve.operation()); });
  ASSERT_TRUE(resolve.waitRunning());
  auto second = platform::spawnTask([&] { return cache.get(std::nullopt, resolve.operation()); });
  resolve.fail(DavError::unreachable());
  for (auto* task : {&first, &second}) {
    try {
      task->get();
      ADD_FAILURE() << "resolved despite the failure";
    } catch (const DavError& e) {
      EXPECT_EQ(e, DavError::unreachable());
    }
  }
  // The second caller joined the failed resolution, or came just after it and ran its own, which failed too.
  EXPECT_LE(resolve.runs(), 2);
  // Nothing was cached: the next caller resolves afresh.
  std::atomic<int> runs = 0;
  EXPECT_EQ(cache.get(std::nullopt, constant("http://a/", runs)), "http://a/");
  EXPECT_EQ(runs, 1);
}

TEST(ServerCacheTest, CancellingAWaitingCallerLeavesTheResolutionRunning) {
  ServerCache cache;
  HeldResolve resolve;
  // The caller that starts the resolution is the one cancelled.
  auto starter = platform::spawnTask([&] { return cache.get(std::nullopt, resolve.operation()); });
  ASSERT_TRUE(resolve.waitRunning());
  auto joiner = platform::spawnTask([&] { return cache.get(std::nullopt, resolve.operation()); });
  starter.job().cancel();
  EXPECT_THROW(starter.get(), platform::Cancelled);

  resolve.release("http://a/");
  EXPECT_EQ(joiner.get(), "http://a/");
  EXPECT_FALSE(resolve.sawCancel());
  EXPECT_EQ(resolve.runs(), 1);
  // The outcome reached the cache although its starter was gone.
  std::atomic<int> runs = 0;
  EXPECT_EQ(cache.get(std::nullopt, constant("http://b/", runs)), "http://a/");
  EXPECT_EQ(runs, 0);

  // A caller that is cancelled before it waits stops at once, also while another resolution runs.
  HeldResolve again;
  auto runner = platform::spawnTask([&] { return cache.get("http://a/", again.operation()); });
  ASSERT_TRUE(again.waitRunning());
  std::stop_source stop;
  stop.request_stop();
  platform::runWithStopToken(stop.get_token(), [&] {
    EXPECT_THROW(cache.get(std::nullopt, again.operation()), platform::Cancelled);
  });
  again.release("http://c/");
  EXPECT_EQ(runner.get(), "http://c/");
  EXPECT_EQ(again.runs(), 1);
}

}  // namespace
}  // namespace davfp
