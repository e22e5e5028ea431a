// The program's side of the contract: every request and enumeration waits for its one outcome, whatever
// thread delivers it and however often; an interruption cancels the request through its progress.
#include "client/platform_client.h"

#include <gtest/gtest.h>

#include <thread>

#include "fake_extension.h"
#include "host/interrupt.h"

namespace davfp::cli {
namespace {

using client::TemplateItem;

using testing::FakeExtension;

class PlatformTest : public ::testing::Test {
 protected:
  PlatformTest() {
    ext_->add("docs", platform::kRootContainerItemIdentifier, "docs", true);
    ext_->add("a", "docs", "a.txt", false);
    ext_->add("b", "docs", "b.txt", false);
  }

  std::shared_ptr<FakeExtension> ext_ = std::make_shared<FakeExtension>();
  Interrupt interrupt_;
  client::PlatformClient platform_{ext_, interrupt_.token()};
};

TEST_F(PlatformTest, RequestsAndEnumerationsWaitForTheirOutcome) {
  EXPECT_EQ(platform_.item("a")->filename(), "a.txt");
  // Items delivered across several calls are collected until the finish.
  auto children = platform_.enumerate("docs");
  ASSERT_EQ(children.size(), 2u);
  EXPECT_EQ(children[1]->itemIdentifier(), "b");
  EXPECT_EQ(platform_.currentAnchor(platform::kWorkingSetContainerItemIdentifier), "41");
  // Pages are followed to the last.
  ext_->add("p", "docs", "paged", true);
  for (const char* id : {"p1", "p2", "p3"}) ext_->add(id, "p", id, false);
  auto paged = platform_.enumerate("p");
  ASSERT_EQ(paged.size(), 3u);
  EXPECT_EQ(paged[2]->itemIdentifier(), "p3");
  // Updates and deletions in the order the observer got them, then the anchor.
  auto changes = platform_.changes(platform::kWorkingSetContainerItemIdentifier, "41");
  ASSERT_EQ(changes.changes.size(), 3u);
  EXPECT_TRUE(changes.changes[0].updated);
  EXPECT_EQ(changes.changes[2].deleted, "gone-2");
  EXPECT_EQ(changes.anchor, "42");

  auto created = platform_.create(
      std::make_shared<TemplateItem>(TemplateItem::forNewItem("docs", "new", std::nullopt)), 0, std::nullopt);
  EXPECT_EQ(created.item->itemIdentifier(), "created-new");
  auto modified = platform_.modify(ext_->find("a"), {}, platform::field::kFilename | 0x80, std::nullopt);
  EXPECT_EQ(modified.pendingFields, 0x80u);
  EXPECT_NO_THROW(platform_.remove("a", {}, false));
}

TEST_F(PlatformTest, FailuresArriveAsTheErrorsDelivered) {
  struct Case {
    const char* name;
    std::function<void()> request;
    std::string domain;
    long code;
  } cases[] = {
      {"item", [&] { platform_.item("missing"); }, "NSFileProviderErrorDomain", -1005},
      {"enumerate", [&] { platform_.enumerate("missing"); }, "NSFileProviderErrorDomain", -1005},
      {"delete", [&] { platform_.remove("missing", {}, true); }, "NSFileProviderErrorDomain", -1005},
      // A completion without a result or an error breaks the contract; it must not be taken for a result.
      {"fetch without a file", [&] { platform_.fetch("a", std::nullopt); }, "NSCocoaErrorDomain", 512},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    try {
      c.request();
      ADD_FAILURE() << "no error";
    } catch (const platform::Error& e) {
      EXPECT_EQ(e.domain(), c.domain);
      EXPECT_EQ(e.code(), c.code);
    }
  }
}

TEST_F(PlatformTest, TheFirstOfTwoCompletionsCounts) {
  ext_->add("t", "docs", "twice", false);
  for (int i = 0; i < 20; ++i) EXPECT_EQ(platform_.item("t")->itemIdentifier(), "t");
}

TEST_F(PlatformTest, AnInterruptionCancelsTheRequestWaitedFor) {
  ext_->add("s", "docs", "slow", false);
  ext_->add("sf", "docs", "slow", true);
  // Whether the interruption comes before or during the wait, the request is cancelled through its progress
  // and its wait ends with the user-cancelled error.
  std::thread interrupter([this] { interrupt_.trigger(); });
  try {
    platform_.item("s");
    ADD_FAILURE() << "no error";
  } catch (const platform::Error& e) {
    EXPECT_TRUE(e.is(platform::kCocoaErrorDomain, platform::cocoa::kUserCancelled)) << e.what();
  }
  interrupter.join();
  // Once interrupted, every later wait ends at once the same way: enumerations too.
  EXPECT_THROW(platform_.enumerate("sf"), platform::Error);
  EXPECT_FALSE(interrupt_.sleepFor(std::chrono::hours(1)));
}

}  // namespace
}  // namespace davfp::cli
