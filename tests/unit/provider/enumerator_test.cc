// Item enumeration of folders, the working set, the trash and the placeholder domain.
#include <gtest/gtest.h>

#include <thread>

#include "support/drive_test.h"

namespace davfp::testing {
namespace {

class EnumeratorTest : public DriveTest {};

TEST_F(EnumeratorTest, FolderReportsItsDirectChildrenOnceAndIsRemembered) {
  // The folder itself not first, a deeper descendant, paths outside it, one sharing its name as a prefix.
  server.on("PROPFIND", "/dav/d/",
            {.status = 207,
             .body = multistatus({{"/dav/d/z.txt", false, 2, "\"Z\""},
                                  {"/dav/d/", true},
                                  {"/dav/d/deep/er.txt"},
                                  {"/dav/d/a/", true, 0, "\"A\""},
                                  {"/dav/elsewhere.txt"},
                                  {"/dav/dd/x.txt"}})});
  drive.restart();
  const std::string d = drive.state().id("/d");
  auto rec = drive.enumerate(d);

  EXPECT_EQ(rec->calls(), (Strings{"items", "finishPage"}));
  EXPECT_FALSE(rec->nextPage());
  auto items = rec->items();
  EXPECT_EQ(filenames(items), (Strings{"z.txt", "a"}));  // server order
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0]->itemIdentifier(), drive.idOf("/d/z.txt"));
  EXPECT_EQ(items[1]->itemIdentifier(), drive.idOf("/d/a"));
  EXPECT_NE(items[0]->itemIdentifier(), items[1]->itemIdentifier());
  for (const auto& item : items) EXPECT_EQ(item->parentItemIdentifier(), d);
  EXPECT_EQ(tree.sent(), (Strings{"PROPFIND 1 /dav/d/"}));
  EXPECT_EQ(drive.state().knownFolders(),
            (State::Snapshots{{"/d", {{"/d/z.txt", "\"Z\""}, {"/d/a", "\"A\""}}}}));
}

TEST_F(EnumeratorTest, TrashAndPlaceholderDomainFinishAtOnceWithNothing) {
  tree.file("/a.txt", "a");
  struct Case {
    std::string domain;
    platform::ItemIdentifier container;
  } cases[] = {
      {TestDrive::kDomain, platform::kTrashContainerItemIdentifier},
      {"velnor-placeholder", platform::kRootContainerItemIdentifier},
      {"velnor-placeholder", platform::kWorkingSetContainerItemIdentifier},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.domain + " " + c.container);
    env.publish(c.domain, server.url("/dav/"));
    drive.restart(c.domain);
    auto rec = drive.enumerate(c.container);
    EXPECT_EQ(rec->calls(), (Strings{"finishPage"}));
    EXPECT_FALSE(rec->nextPage());
    EXPECT_EQ(rec->finishThread(), std::this_thread::get_id());
    EXPECT_TRUE(drive.state().knownFolders().empty());
  }
  EXPECT_TRUE(server.requests().empty());
}

TEST_F(EnumeratorTest, FailuresFinishWithTheConvertedErrorAndRecordNothing) {
  tree.folder("/gone");
  tree.folder("/busy");
  tree.fail("/dav/gone/", {.status = 404});
  tree.fail("/dav/busy/", {.status = 503});
  drive.restart();
  struct Case {
    const char* name;
    platform::ItemIdentifier container;
    long code;
  } cases[] = {
      {"unknown identifier", "0F8C2D1E-9A3B-4C5D-8E7F-102030405060", platform::fp::kNoSuchItem},
      {"folder gone", drive.state().id("/gone"), platform::fp::kNoSuchItem},
      {"server busy", drive.state().id("/busy"), platform::fp::kServerUnreachable},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto rec = drive.enumerate(c.container);
    EXPECT_EQ(rec->calls(), (Strings{"error"}));
    expectError(rec->error(), platform::kFileProviderErrorDomain, c.code);
  }
  EXPECT_TRUE(drive.state().knownFolders().empty());
}

TEST_F(EnumeratorTest, WorkingSetReportsTheChildrenOfEveryRememberedFolder) {
  drive.restart();
  // Nothing remembered yet: an empty list, and no server needed.
  auto empty = drive.enumerate(platform::kWorkingSetContainerItemIdentifier);
  EXPECT_EQ(empty->calls(), (Strings{"items", "finishPage"}));
  EXPECT_TRUE(empty->items().empty());
  EXPECT_TRUE(server.requests().empty());

  tree.file("/a/x.txt", "x");
  tree.file("/b/never-listed.txt", "b");
  tree.file("/c/vanishing.txt", "c");
  tree.file("/top.txt", "t");
  for (auto path : {"/", "/a", "/c"}) {
    ASSERT_EQ(drive.enumerate(drive.state().id(path))->calls(), (Strings{"items", "finishPage"})) << path;
  }
  tree.remove("/c");
  auto known = drive.state().knownFolders();

  auto rec = drive.enumerate(platform::kWorkingSetContainerItemIdentifier);
  EXPECT_EQ(rec->calls(), (Strings{"items", "finishPage"}));
  EXPECT_EQ(sorted(filenames(rec->items())), (Strings{"a", "b", "top.txt", "x.txt"}));
  EXPECT_EQ(findItem(rec->items(), drive.idOf("/a/x.txt"))->parentItemIdentifier(), drive.idOf("/a"));
  EXPECT_EQ(drive.state().knownFolders(), known);  // the vanished folder stays remembered

  tree.fail("/dav/a/", {.status = 500});
  auto failed = drive.enumerate(platform::kWorkingSetContainerItemIdentifier);
  EXPECT_EQ(failed->calls(), (Strings{"error"}));
  expectError(failed->error(), platform::kFileProviderErrorDomain, platform::fp::kServerUnreachable);
}

TEST_F(EnumeratorTest, StateWritesDoNotGrowWithTheNumberOfChildren) {
  drive.restart();
  auto writesFor = [&](const std::string& folder, int children) {
    for (int i = 0; i < children; ++i) tree.file(folder + "/f" + std::to_string(i) + ".txt", "x");
    const std::string id = drive.state().id(folder);
    const int before = env.writes;
    EXPECT_EQ(drive.enumerate(id)->items().size(), static_cast<size_t>(children));
    return env.writes - before;
  };
  const int few = writesFor("/few", 2);
  const int many = writesFor("/many", 200);
  EXPECT_LE(few, 2);
  EXPECT_EQ(many, few);
}

TEST_F(EnumeratorTest, EveryEnumerationFinishesOnceWhenSomethingUnexpectedEscapes) {
  tree.file("/a.txt", "a");
  drive.restart();
  ASSERT_EQ(drive.enumerate(platform::kRootContainerItemIdentifier)->calls(),
            (Strings{"items", "finishPage"}));

  struct Case {
    const char* name;
    std::function<void()> raise;
  } cases[] = {
      {"runtime-error", [] { throw std::runtime_error("type registry broke"); }},
      {"cancelled", [] { throw platform::Cancelled(); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    tree.file("/" + std::string(c.name) + ".txt", "new");  // a change, so that the change pass builds an item
    env.onTypeLookup = [&](std::string_view) { c.raise(); };
    auto pass = drive.changes();
    EXPECT_EQ(pass->calls(), (Strings{"error"}));
    expectError(pass->error(), platform::kFileProviderErrorDomain, platform::fp::kServerUnreachable);
    for (auto container :
         {platform::kRootContainerItemIdentifier, platform::kWorkingSetContainerItemIdentifier}) {
      SCOPED_TRACE(container);
      auto rec = drive.enumerate(container);
      EXPECT_EQ(rec->calls(), (Strings{"error"}));
      expectError(rec->error(), platform::kFileProviderErrorDomain, platform::fp::kServerUnreachable);
    }
  }
  env.onTypeLookup = nullptr;
}

}  // namespace
}  // namespace davfp::testing
