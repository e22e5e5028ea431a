// Enumeration of the working set: its items, its changes and the sync anchor, and every enumeration ending
// once whatever goes wrong.
#include <gtest/gtest.h>

#include "dav/listing.h"
#include "provider/snapshots.h"
#include "support/drive_test.h"

namespace davfp::testing {
namespace {

using platform::kFileProviderErrorDomain;
using platform::kRootContainerItemIdentifier;
using platform::kWorkingSetContainerItemIdentifier;

class ChangesTest : public DriveTest {
 protected:
  // Serves / (with f.txt), /a (with x.txt) and /b (with y.txt), each folder with a fixed entity tag, and
  // remembers the folders given by enumerating them, in a new extension of the domain.
  void remembering(std::initializer_list<const char*> folders,
                   const std::string& domain = TestDrive::kDomain) {
    env.publish(domain, server.url("/dav/"));
    tree.file("/f.txt", "f", "\"f1\"");
    tree.folder("/a", "\"a1\"");
    tree.file("/a/x.txt", "x", "\"x1\"");
    tree.folder("/b", "\"b1\"");
    tree.file("/b/y.txt", "y", "\"y1\"");
    drive.restart(domain);
    for (std::string folder : folders) drive.list(drive.state().id(folder));
    tree.sent();
  }
  // The folders listed since the last look at what the server was sent.
  Strings listed() { return sorted(sent("PROPFIND")); }
};

TEST_F(ChangesTest, NewChangedAndDeletedChildrenAreReportedOnceInOnePass) {
  remembering({"/", "/a"});
  const int64_t anchor = drive.state().anchor();
  const std::string fId = drive.idOf("/f.txt"), xId = drive.idOf("/a/x.txt");
  const int writes = env.writes;
  tree.file("/f.txt", "f changed", "\"f2\"");
  tree.file("/a/new.txt", "new", "\"n1\"");
  tree.remove("/a/x.txt");

  auto rec = drive.changes();
  EXPECT_EQ(rec->calls(), (Strings{"updated", "deleted", "finishChanges"}));
  auto updated = rec->updated();
  EXPECT_EQ(sorted(filenames(updated)), (Strings{"f.txt", "new.txt"}));
  ASSERT_TRUE(findItem(updated, fId)) << "a changed file keeps its identifier";
  EXPECT_EQ(rec->deleted(), (Strings{xId}));
  EXPECT_FALSE(drive.state().path(xId));
  // One forgotten path and one more at the end, handed over as the final value; the state written once.
  EXPECT_EQ(rec->anchor(), std::to_string(anchor + 2));
  EXPECT_EQ(env.writes, writes + 1);
  EXPECT_EQ(drive.changes()->calls(), (Strings{"finishChanges"}));

  // A file that reappears at a forgotten path is new, with a new identifier.
  tree.file("/a/x.txt", "back", "\"x1\"");
  auto back = drive.changes();
  ASSERT_EQ(back->calls(), (Strings{"updated", "finishChanges"}));
  EXPECT_NE(back->updated()[0]->itemIdentifier(), xId);
  EXPECT_EQ(back->anchor(), std::to_string(anchor + 3));

  // A snapshot entry the platform was never told about, gone from the server: no identifier is minted to
  // report it.
  auto kids = childrenOf("/", drive.dav().list("/", 1));
  kids.push_back(DavEntry{.path = "/ghost.txt", .etag = "\"g\""});
  drive.state().remember("/", snapshotOf(kids));
  auto ghost = drive.changes();
  EXPECT_EQ(ghost->calls(), (Strings{"finishChanges"}));
  EXPECT_EQ(drive.idOf("/ghost.txt"), "");
  EXPECT_FALSE(drive.state().knownFolders().at("/").contains("/ghost.txt"));
  EXPECT_EQ(ghost->anchor(), std::to_string(anchor + 5));
}

TEST_F(ChangesTest, PassThatFailsReportsNothingAndChangesNothing) {
  struct Case {
    const char* name;
    std::string target;
    FakeServer::Reply reply;
  } cases[] = {
      // The connection is lost, also when tried again, after two folders were compared.
      {"third folder lost", "/dav/b/", {.dropAfterBytes = 0}},
      // A root that answers not found is not served there right now: the root container cannot be deleted,
      // and forgetting it would drop every identifier the platform holds.
      {"root not found", "/dav/", {.status = 404}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    remembering({"/", "/a", "/b"}, c.name);
    const std::string added = "/new in " + std::string(c.name);
    tree.file(added, "new", "\"n1\"");  // in the first folder
    tree.remove("/a/x.txt");            // in the second
    tree.fail(c.target, c.reply);
    const std::string xId = drive.idOf("/a/x.txt"), before = readFile(drive.state().file());
    const int64_t anchor = drive.state().anchor();

    auto failed = drive.changes();
    EXPECT_EQ(failed->calls(), (Strings{"error"}));
    expectError(failed->error(), platform::kFileProviderErrorDomain, platform::fp::kServerUnreachable);
    EXPECT_EQ(readFile(drive.state().file()), before);

    // The next pass finds the same changes.
    tree.heal();
    auto rec = drive.changes();
    EXPECT_EQ(filenames(rec->updated()), (Strings{added.substr(1)}));
    EXPECT_EQ(rec->deleted(), (Strings{xId}));
    EXPECT_EQ(rec->anchor(), std::to_string(anchor + 2));
  }
}

// A remembered folder whose access was revoked fails neither the pass nor the working set: it is left out
// with everything below it, its snapshot kept and nothing in it reported, and the other folders' changes
// come. A refused root is the drive refused: both fail whole.
TEST_F(ChangesTest, ARefusedFolderIsLeftOutAndTheRestReported) {
  for (int status : {403, 401}) {
    SCOPED_TRACE(status);
    tree.file("/a/sub/deep.txt", "d", "\"d1\"");
    remembering({"/", "/a", "/a/sub", "/b"}, "refused " + std::to_string(status));
    const std::string xId = drive.idOf("/a/x.txt");
    const auto known = drive.state().knownFolders();
    tree.fail("/dav/a/", {.status = status});
    tree.remove("/a/x.txt");
    tree.file("/b/y.txt", "y changed", "\"y2\"");

    auto rec = drive.changes();
    EXPECT_EQ(rec->calls(), (Strings{"updated", "finishChanges"}));
    EXPECT_EQ(filenames(rec->updated()), (Strings{"y.txt"}));
    EXPECT_EQ(listed(), (Strings{"1 /dav/", "1 /dav/a/", "1 /dav/b/"}));
    for (auto folder : {"/a", "/a/sub"}) EXPECT_EQ(drive.state().knownFolders().at(folder), known.at(folder));
    EXPECT_EQ(drive.idOf("/a/x.txt"), xId);
    auto workingSet = drive.enumerate(kWorkingSetContainerItemIdentifier);
    EXPECT_EQ(sorted(filenames(workingSet->items())), (Strings{"a", "b", "deep.txt", "f.txt", "y.txt"}));

    tree.heal();  // once access is back, what changed meanwhile is found
    EXPECT_EQ(drive.changes()->deleted(), (Strings{xId}));
  }

  remembering({"/", "/a"}, "refused root");
  tree.fail("/dav/", {.status = 403});
  const int64_t anchor = drive.state().anchor();
  auto failed = drive.changes();
  EXPECT_EQ(failed->calls(), (Strings{"error"}));
  expectError(failed->error(), platform::kCocoaErrorDomain, platform::cocoa::kFileWriteNoPermission);
  EXPECT_EQ(drive.state().anchor(), anchor);
  EXPECT_EQ(drive.enumerate(kWorkingSetContainerItemIdentifier)->calls(), (Strings{"error"}));
}

// The anchor is the state's counter in decimal; folders and the trash report no changes of their own: the
// current anchor, without asking the server.
TEST_F(ChangesTest, AnchorIsTheCounterInDecimal) {
  remembering({"/"});
  drive.state().setAnchor(41);
  std::optional<platform::SyncAnchor> current;
  drive.ext().enumerator(kWorkingSetContainerItemIdentifier, {})->currentSyncAnchor([&](auto a) {
    current = a;
  });
  EXPECT_EQ(current, "41");  // delivered before currentSyncAnchor returned
  tree.file("/f.txt", "changed", "\"f2\"");
  for (const auto& container : {platform::kTrashContainerItemIdentifier, drive.state().id("/f.txt")}) {
    auto other = drive.changes(container);
    EXPECT_EQ(other->calls(), (Strings{"finishChanges"}));
    EXPECT_EQ(other->anchor(), "41");
  }
  EXPECT_EQ(tree.sent(), Strings{});
}

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
    // A change, so that the pass builds an item.
    tree.file("/new" + std::to_string(&thrown - raise) + ".txt", "new");
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
