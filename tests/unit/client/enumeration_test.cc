// The client's side of a request: the platform's observer of one enumeration, where the first finish is the
// outcome and every breach of the observer rules (a second finish, a call after the finish) is recorded
// rather than taken; and one request from its start to its completion, where the first outcome counts, every
// completion is counted, and a cancelled wait goes through the request's progress when it has one.
#include "client/enumeration.h"
#include "client/pending.h"

#include <gtest/gtest.h>

#include <functional>
#include <thread>

#include "client/errors.h"
#include "client/template_item.h"

namespace davfp::client {
namespace {

using Strings = std::vector<std::string>;

platform::ItemRef item(const std::string& id) {
  return std::make_shared<TemplateItem>(TemplateItem::Properties{.identifier = id, .filename = id});
}

platform::Error noSuchItem() {
  return platform::Error(platform::kFileProviderErrorDomain, platform::fp::kNoSuchItem);
}

TEST(EnumerationTest, TheFirstFinishIsTheOutcomeAndBreachesAreRecorded) {
  struct Case {
    const char* name;
    std::function<void(Enumeration&)> calls;
    Strings recorded;      // every call, late ones included
    size_t itemsAtFinish;  // what wait() returns
    std::optional<long> error;  // the code wait() throws
    int finishes;
    Strings late;
  } cases[] = {
      // clang-format off
      {"items across calls", [](Enumeration& e) {
         e.didEnumerateItems({item("a")});
         e.didEnumerateItems({item("b"), item("c")});
         e.finishEnumeratingUpToPage(std::nullopt);
       }, {"items", "items", "finishPage"}, 3, std::nullopt, 1, {}},
      {"items and a second finish after the finish", [](Enumeration& e) {
         e.didEnumerateItems({item("a")});
         e.finishEnumeratingUpToPage(std::nullopt);
         e.didEnumerateItems({item("late")});
         e.finishEnumeratingWithError(noSuchItem());
       }, {"items", "finishPage", "items", "error"}, 1, std::nullopt, 2, {"items", "error"}},
      {"a change after an error finish", [](Enumeration& e) {
         e.finishEnumeratingWithError(noSuchItem());
         e.didDeleteItemsWithIdentifiers({"x"});
         e.finishEnumeratingChangesUpToSyncAnchor("8", false);
       }, {"error", "deleted", "finishChanges"}, 0, platform::fp::kNoSuchItem, 2, {"deleted", "finishChanges"}},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto enumeration = std::make_shared<Enumeration>();
    std::thread extension([&] { c.calls(*enumeration); });
    try {
      auto atFinish = enumeration->wait();
      EXPECT_FALSE(c.error) << "no error";
      EXPECT_EQ(atFinish.items.size(), c.itemsAtFinish);
      EXPECT_EQ(atFinish.finishThread, extension.get_id());
    } catch (const platform::Error& e) {
      EXPECT_EQ(e.code(), c.error.value_or(0)) << e.what();
    }
    extension.join();
    auto record = enumeration->record();
    EXPECT_EQ(record.calls, c.recorded);
    EXPECT_EQ(record.finishes, c.finishes);
    EXPECT_EQ(record.lateCalls, c.late);
  }
}

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
