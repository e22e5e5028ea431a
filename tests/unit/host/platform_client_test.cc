// The program's side of the contract: every request and enumeration waits for its outcome, whatever thread
// delivers it, and a completion that breaks the contract is an error, never a result.
#include "client/platform_client.h"

#include <gtest/gtest.h>

#include "fake_extension.h"

namespace davfp::cli {
namespace {

TEST(PlatformTest, RequestsWaitForTheirOutcome) {
  auto ext = std::make_shared<testing::FakeExtension>();
  ext->add("docs", platform::kRootContainerItemIdentifier, "docs", true);
  ext->add("a", "docs", "a.txt", false);
  ext->add("p", "docs", "paged", true);
  for (const char* id : {"p1", "p2", "p3"}) ext->add(id, "p", id, false);
  client::PlatformClient platform{ext};

  EXPECT_EQ(platform.item("a")->filename(), "a.txt");
  // Items delivered across several calls are collected until the finish; pages are followed to the last.
  EXPECT_EQ(platform.enumerate("docs").size(), 2u);
  auto paged = platform.enumerate("p");
  ASSERT_EQ(paged.size(), 3u);
  EXPECT_EQ(paged[2]->itemIdentifier(), "p3");
  EXPECT_EQ(platform.currentAnchor(platform::kWorkingSetContainerItemIdentifier), "41");

  struct Case {
    const char* name;
    std::function<void()> request;
    std::string domain;
    long code;
  } cases[] = {
      {"item", [&] { platform.item("missing"); }, "NSFileProviderErrorDomain", -1005},
      {"enumerate", [&] { platform.enumerate("missing"); }, "NSFileProviderErrorDomain", -1005},
      {"delete", [&] { platform.remove("a", {}, true); }, "NSFileProviderErrorDomain", -1005},
      // A completion without a result or an error breaks the contract; it must not be taken for a result.
      {"fetch without a file", [&] { platform.fetch("a", std::nullopt); }, "NSCocoaErrorDomain", 512},
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

}  // namespace
}  // namespace davfp::cli
