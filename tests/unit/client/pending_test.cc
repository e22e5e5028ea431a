// One request from its start to its completion: the first outcome counts, every completion is counted, and
// a cancelled wait goes through the request's progress when it has one.
#include "client/pending.h"

#include <gtest/gtest.h>

#include <thread>

namespace davfp::client {
namespace {

TEST(PendingTest, ACancelledWaitCancelsTheProgressOrElseEndsWithTheUserCancelledError) {
  // With a progress: the request is cancelled, and the wait takes the outcome that brings.
  Pending<int> withProgress;
  auto progress = platform::Progress::make(1);
  progress->setCancellationHandler([completion = withProgress.completion()] {
    completion->fail(
        platform::Error(platform::kCocoaErrorDomain, platform::cocoa::kUserCancelled, "by progress"));
  });
  withProgress.setProgress(progress);
  std::stop_source cancel;
  cancel.request_stop();  // before the wait: it is cancelled at once
  try {
    withProgress.wait(cancel.get_token());
    ADD_FAILURE() << "no error";
  } catch (const platform::Error& e) {
    EXPECT_EQ(e.message(), "by progress");
  }
  EXPECT_TRUE(progress->isCancelled());
  EXPECT_EQ(withProgress.completions(), 1);

  // Without one (the current sync anchor): the wait itself ends, and nothing counts as a completion.
  Pending<int> withoutProgress;
  std::stop_source later;
  std::thread canceller([&] { later.request_stop(); });
  try {
    withoutProgress.wait(later.get_token());
    ADD_FAILURE() << "no error";
  } catch (const platform::Error& e) {
    EXPECT_TRUE(e.is(platform::kCocoaErrorDomain, platform::cocoa::kUserCancelled)) << e.what();
  }
  canceller.join();
  EXPECT_EQ(withoutProgress.completions(), 0);
  EXPECT_FALSE(withoutProgress.completion()->deliver(5));  // the late answer is dropped, and counted
  EXPECT_EQ(withoutProgress.completions(), 1);
}

}  // namespace
}  // namespace davfp::client
