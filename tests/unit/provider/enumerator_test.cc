// Item enumeration of folders, the working set, the trash and the placeholder domain.
#include <gtest/gtest.h>

#include <thread>

#include "support/drive_test.h"
#include "unit/state/state_file_check.h"

namespace davfp::testing {
namespace {

using platform::kFileProviderErrorDomain;
using platform::kRootContainerItemIdentifier;
using platform::kWorkingSetContainerItemIdentifier;

class EnumeratorTest : public DriveTest {};

TEST_F(EnumeratorTest, FolderReportsItsDirectChildrenOnceAndIsRememberedInOneSave) {
  // The folder itself not first, a deeper descendant, paths outside it, one sharing its name as a prefix.
  auto listing = [](const char* version) {
    return FakeServer::Reply{.status = 207,
                             .body = multistatus({{"/dav/d/z.txt", false, 2, version},
                                                  {"/dav/d/", true},
                                                  {"/dav/d/deep/er.txt"},
                                                  {"/dav/d/a/", true, 0, "\"A\""},
                                                  {"/dav/elsewhere.txt"},
                                                  {"/dav/dd/x.txt"}})};
  };
  for (const char* version : {"\"Z\"", "\"Z\"", "\"Z2\""}) server.on("PROPFIND", "/dav/d/", listing(version));
  drive.restart();
  const std::string d = drive.state().id("/d");
  const int writes = env.writes;

  auto rec = drive.enumerate(d);
  EXPECT_EQ(rec->calls(), (Strings{"items", "finishPage"}));
  EXPECT_FALSE(rec->nextPage());
  auto items = rec->items();
  ASSERT_EQ(filenames(items), (Strings{"z.txt", "a"}));  // server order
  EXPECT_EQ(items[0]->itemIdentifier(), drive.idOf("/d/z.txt"));
  EXPECT_EQ(items[1]->itemIdentifier(), drive.idOf("/d/a"));
  EXPECT_NE(items[0]->itemIdentifier(), items[1]->itemIdentifier());
  for (const auto& item : items) EXPECT_EQ(item->parentItemIdentifier(), d);
  EXPECT_EQ(tree.sent(), (Strings{"PROPFIND 1 /dav/d/"}));
  EXPECT_EQ(drive.state().knownFolders(), (State::Snapshots{{"/d", {{"/d/z.txt", "\"Z\""}, {"/d/a", "\"A\""}}}}));
  // The snapshot and every identifier its items need go into one save; the same listing again writes nothing.
  EXPECT_EQ(env.writes, writes + 1);
  EXPECT_EQ(drive.enumerate(d)->items()[0]->itemIdentifier(), items[0]->itemIdentifier());
  EXPECT_EQ(env.writes, writes + 1);
  EXPECT_EQ(drive.enumerate(d)->items()[0]->itemVersion().contentVersion, "\"Z2\"");
  EXPECT_EQ(env.writes, writes + 2);
  testing::expectFileMatches(drive.state(), env, TestDrive::kDomain,
                             {d, items[0]->itemIdentifier(), items[1]->itemIdentifier()});
}

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
    tree.file("/new" + std::to_string(&thrown - raise) + ".txt", "new");  // a change, so the pass builds an item
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
