#include "provider/frame.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <latch>
#include <mutex>
#include <thread>
#include <vector>

#include "dav/entry.h"

namespace davfp {
namespace {

using platform::Error;

Error convert(auto error) { return fpError(std::make_exception_ptr(error)); }

TEST(FpErrorTest, ConvertsEveryKindOfError) {
  struct Case {
    const char* name;
    Error converted;
    std::string_view domain;
    long code;
  } cases[] = {
      {"507", convert(DavError::status(507)), platform::kFileProviderErrorDomain, -1003},
      {"400", convert(DavError::status(400)), platform::kCocoaErrorDomain, 512},
      {"409", convert(DavError::status(409)), platform::kCocoaErrorDomain, 512},
      {"412", convert(DavError::status(412)), platform::kCocoaErrorDomain, 512},
      {"423", convert(DavError::status(423)), platform::kCocoaErrorDomain, 512},
      {"499", convert(DavError::status(499)), platform::kCocoaErrorDomain, 512},
      {"408", convert(DavError::status(408)), platform::kFileProviderErrorDomain, -1004},
      {"429", convert(DavError::status(429)), platform::kFileProviderErrorDomain, -1004},
      {"500", convert(DavError::status(500)), platform::kFileProviderErrorDomain, -1004},
      {"503", convert(DavError::status(503)), platform::kFileProviderErrorDomain, -1004},
      {"301", convert(DavError::status(301)), platform::kFileProviderErrorDomain, -1004},
      {"unreachable", convert(DavError::unreachable()), platform::kFileProviderErrorDomain, -1004},
      {"notFound", convert(DavError::notFound()), platform::kFileProviderErrorDomain, -1005},
      {"forbidden", convert(DavError::forbidden()), platform::kCocoaErrorDomain, 513},
      {"file provider", convert(Error(platform::kFileProviderErrorDomain, -1005)),
       platform::kFileProviderErrorDomain, -1005},
      {"cocoa", convert(Error(platform::kCocoaErrorDomain, 3328)), platform::kCocoaErrorDomain, 3328},
      {"url", convert(Error(platform::kURLErrorDomain, platform::urlerr::kNotConnectedToInternet)),
       platform::kFileProviderErrorDomain, -1004},
      {"posix", convert(platform::posixError(ENOSPC, "write")), platform::kFileProviderErrorDomain, -1004},
      {"cancelled", convert(platform::Cancelled()), platform::kFileProviderErrorDomain, -1004},
      {"other", convert(std::runtime_error("x")), platform::kFileProviderErrorDomain, -1004},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.converted.domain(), c.domain);
    EXPECT_EQ(c.converted.code(), c.code);
  }
}

// Collects the deliveries of one request.
template <class T>
struct Recorder {
  std::mutex mu;
  std::condition_variable cv;
  int calls = 0;
  std::optional<T> result;
  std::optional<Error> error;

  Finish<T> finish() {
    return [this](std::optional<T> r, std::optional<Error> e) {
      std::lock_guard guard(mu);
      ++calls;
      result = std::move(r);
      error = std::move(e);
      cv.notify_all();
    };
  }
  void waitForCall() {
    std::unique_lock lock(mu);
    cv.wait(lock, [this] { return calls > 0; });
  }
};

TEST(PerformTest, DeliversResultOrConvertedErrorOnce) {
  Recorder<int> ok;
  auto progress = perform<int>([] { return 7; }, ok.finish());
  ok.waitForCall();
  EXPECT_EQ(ok.result, 7);
  EXPECT_FALSE(ok.error);
  EXPECT_EQ(progress->completedUnitCount(), 1);
  EXPECT_EQ(progress->totalUnitCount(), 1);

  Recorder<int> failed;
  perform<int>([]() -> int { throw DavError::notFound(); }, failed.finish());
  failed.waitForCall();
  EXPECT_FALSE(failed.result);
  ASSERT_TRUE(failed.error);
  EXPECT_EQ(failed.error->code(), platform::fp::kNoSuchItem);
}

TEST(PerformTest, CancellationAnswersAtOnceAndDropsTheLateResult) {
  Recorder<int> rec;
  std::latch started(1);
  std::atomic<bool> release{false};
  std::atomic<bool> sawCancellation{false};
  std::atomic<bool> workEnded{false};
  auto progress = perform<int>(
      [&] {
        started.count_down();
        // Waits until cancelled: the job's blocking waits end early when it is.
        while (platform::sleepFor(std::chrono::milliseconds(10))) {
        }
        sawCancellation = platform::cancelled();
        while (!release) std::this_thread::yield();
        workEnded = true;
        return 1;
      },
      rec.finish());
  started.wait();
  EXPECT_EQ(progress->completedUnitCount(), 0);
  progress->cancel();
  {
    std::lock_guard guard(rec.mu);
    EXPECT_EQ(rec.calls, 1);  // delivered on the cancelling thread, before the work ended
    ASSERT_TRUE(rec.error);
    EXPECT_EQ(rec.error->domain(), platform::kCocoaErrorDomain);
    EXPECT_EQ(rec.error->code(), platform::cocoa::kUserCancelled);
  }
  EXPECT_EQ(progress->completedUnitCount(), 1);
  release = true;
  while (!workEnded) std::this_thread::yield();
  EXPECT_TRUE(sawCancellation);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));  // room for a wrong second delivery to show
  std::lock_guard guard(rec.mu);
  EXPECT_EQ(rec.calls, 1);
  EXPECT_FALSE(rec.result);
}

TEST(PerformTest, CancellingAfterDeliveryChangesNothing) {
  Recorder<int> rec;
  auto progress = perform<int>([] { return 3; }, rec.finish());
  rec.waitForCall();
  progress->cancel();
  std::lock_guard guard(rec.mu);
  EXPECT_EQ(rec.calls, 1);
  EXPECT_EQ(rec.result, 3);
  EXPECT_FALSE(rec.error);
}

TEST(PerformTest, CompletionRacingCancellationIsDeliveredExactlyOnce) {
  constexpr int kRequests = 3000;
  std::vector<std::atomic<int>> calls(kRequests);
  std::atomic<int> workDone{0};
  std::vector<std::shared_ptr<platform::Progress>> progresses(kRequests);
  for (int i = 0; i < kRequests; ++i) {
    progresses[i] = perform<int>(
        [&workDone, i] {
          workDone.fetch_add(1);
          return i;
        },
        [&calls, i](std::optional<int>, std::optional<Error>) { calls[i].fetch_add(1); });
    if (i % 2 == 0) progresses[i]->cancel();  // races the work's own delivery
  }
  std::thread canceller([&] {
    for (int i = 1; i < kRequests; i += 2) progresses[i]->cancel();
  });
  canceller.join();
  while (workDone.load() < kRequests) std::this_thread::yield();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));  // room for a wrong second delivery to show
  for (int i = 0; i < kRequests; ++i) {
    ASSERT_EQ(calls[i].load(), 1) << "request " << i;
    EXPECT_EQ(progresses[i]->completedUnitCount(), 1);
  }
}

}  // namespace
}  // namespace davfp
