// Requests' frame: every error converted to what the platform knows, and a cancelled request answered at
// once, its work told to stop and its late result dropped.
#include "provider/frame.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <latch>

#include "dav/dav_error.h"
#include "support/dav_test_util.h"

namespace davfp {
namespace {

using platform::Error;

Error convert(auto error) { return fpError(std::make_exception_ptr(error)); }

TEST(FpErrorTest, ConvertsEveryKindOfError) {
  const std::string_view fp = platform::kFileProviderErrorDomain, cocoa = platform::kCocoaErrorDomain;
  struct Case {
    Error converted;
    std::string_view domain;
    long code;
  } cases[] = {
      // clang-format off
      {convert(DavError::status(507)), fp, -1003}, {convert(DavError::status(400)), cocoa, 512},
      {convert(DavError::status(429)), fp, -1004}, {convert(DavError::status(500)), fp, -1004},
      {convert(DavError::unreachable()), fp, -1004}, {convert(DavError::status(207)), cocoa, 512},
      {convert(DavError::notFound()), fp, -1005}, {convert(DavError::forbidden()), cocoa, 513},
      {convert(DavError::notAuthenticated()), fp, -1000},
      {convert(Error(fp, -1005)), fp, -1005}, {convert(Error(cocoa, 3328)), cocoa, 3328},
      {convert(Error(platform::kURLErrorDomain, platform::urlerr::kNotConnectedToInternet)), fp, -1004},
      {convert(platform::posixError(ENOSPC, "write")), fp, -1004}, {convert(platform::Cancelled()), fp, -1004},
      {convert(std::runtime_error("x")), fp, -1004},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("case " + std::to_string(&c - cases) + ": " + c.converted.what());
    EXPECT_EQ(c.converted.domain(), c.domain);
    EXPECT_EQ(c.converted.code(), c.code);
  }
}

TEST(PerformTest, CancellationAnswersAtOnceReachesTheWorkAndDropsTheLateResult) {
  std::atomic<int> calls = 0;
  std::optional<Error> error;
  std::latch started(1), release(1), ended(1);
  std::promise<bool> sawCancellation;
  // The work's capture `end` counts `ended` down when its last copy goes: at the end of the job that ran the
  // work, after anything that job could deliver.
  auto progress = perform<int>(
      [&, end = std::shared_ptr<void>(nullptr, [&](void*) { ended.count_down(); })] {
        started.count_down();
        // Waits until cancelled: the job's blocking waits end early when it is.
        while (platform::sleepFor(std::chrono::milliseconds(10))) {
        }
        sawCancellation.set_value(platform::cancelled());
        release.wait();
        return 1;
      },
      [&](std::optional<int> result, std::optional<Error> e) {
        EXPECT_FALSE(result);
        error = std::move(e);
        ++calls;
      });
  started.wait();
  EXPECT_EQ(progress->completedUnitCount(), 0);
  progress->cancel();
  EXPECT_EQ(calls, 1);  // delivered on the cancelling thread, before the work ended
  testing::expectError(error, platform::kCocoaErrorDomain, platform::cocoa::kUserCancelled);
  EXPECT_EQ(progress->completedUnitCount(), 1);
  EXPECT_TRUE(sawCancellation.get_future().get());
  release.count_down();
  ended.wait();  // a wrong second delivery would have come by now
  EXPECT_EQ(calls, 1);
}

}  // namespace
}  // namespace davfp
