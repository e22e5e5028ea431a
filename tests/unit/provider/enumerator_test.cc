// Item enumeration of the working set, and every enumeration ending once whatever goes wrong.
#include <gtest/gtest.h>

#include "support/drive_test.h"

namespace davfp::testing {
namespace {

using platform::kFileProviderErrorDomain;
using platform::kRootContainerItemIdentifier;
using platform::kWorkingSetContainerItemIdentifier;

class EnumeratorTest : public DriveTest {};

TEST_F(EnumeratorTest, WorkingSetReportsTheChildrenOfEveryRememberedFolder) {
  drive.restart();
  // Nothing remembered yet: an empty list, and no server needed.
  auto empty = drive.enumerate(kWorkingSetContainerItemIdentifier);
  EXPECT_EQ(empty->calls(), (Strings{"items", "finishPage"}));
  EXPECT_TRUE(empty->items().empty());
  EXPECT_TRUE(server.requests().empty());

  tree.file("/a/x.txt", "x");
  tree.file("/b/never-listed.txt", "b");
  tree.file("/c/vanishing.txt", "c");
  tree.file("/top.txt", "t");
  for (auto path : {"/", "/a", "/c"}) drive.list(drive.state().id(path));
  tree.remove("/c");
  auto known = drive.state().knownFolders();

  auto rec = drive.enumerate(kWorkingSetContainerItemIdentifier);
  EXPECT_EQ(rec->calls(), (Strings{"items", "finishPage"}));
  EXPECT_EQ(sorted(filenames(rec->items())), (Strings{"a", "b", "top.txt", "x.txt"}));
  EXPECT_EQ(findItem(rec->items(), drive.idOf("/a/x.txt"))->parentItemIdentifier(), drive.idOf("/a"));
  EXPECT_EQ(drive.state().knownFolders(), known);  // the vanished folder stays remembered

  tree.fail("/dav/a/", {.status = 500});
  auto failed = drive.enumerate(kWorkingSetContainerItemIdentifier);
  EXPECT_EQ(failed->calls(), (Strings{"error"}));
  expectError(failed->error(), kFileProviderErrorDomain, platform::fp::kServerUnreachable);
}

TEST_F(EnumeratorTest, EveryEnumerationFinishesOnceWhenSomethingUnexpectedEscapes) {
  tree.file("/a.txt", "a");
  drive.restart();
  drive.list(kRootContainerItemIdentifier);
  const std::function<void()> raise[] = {[] { throw std::runtime_error("type registry broke"); },
                                         [] { throw platform::Cancelled(); }};
  for (const auto& thrown : raise) {
    tree.file("/new" + std::to_string(&thrown - raise) + ".txt",
              "new");  // a change, so the pass builds an item
    env.onTypeLookup = [&](std::string_view) { thrown(); };
    for (const auto& rec : {drive.changes(), drive.enumerate(kRootContainerItemIdentifier),
                            drive.enumerate(kWorkingSetContainerItemIdentifier)}) {
      EXPECT_EQ(rec->calls(), (Strings{"error"}));
      expectError(rec->error(), kFileProviderErrorDomain, platform::fp::kServerUnreachable);
    }
  }
  env.onTypeLookup = nullptr;
}

}  // namespace
}  // namespace davfp::testing
