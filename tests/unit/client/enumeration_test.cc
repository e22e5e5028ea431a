// The platform's observer of one enumeration: the first finish is the outcome, and every breach of the
// observer rules (a second finish, a call after the finish) is recorded rather than taken.
#include "client/enumeration.h"

#include <gtest/gtest.h>

#include <functional>
#include <thread>

#include "client/errors.h"

namespace davfp::client {
namespace {

using Strings = std::vector<std::string>;

std::shared_ptr<platform::ItemProtocol> item(const std::string& id) {
  struct Item final : platform::ItemProtocol {
    std::string id;
    platform::ItemIdentifier itemIdentifier() const override { return id; }
    platform::ItemIdentifier parentItemIdentifier() const override { return "parent"; }
    std::string filename() const override { return id; }
  };
  auto made = std::make_shared<Item>();
  made->id = id;
  return made;
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

}  // namespace
}  // namespace davfp::client
