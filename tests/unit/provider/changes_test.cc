// Change enumeration of the working set, and the sync anchor.
#include <gtest/gtest.h>

#include <algorithm>

#include "dav/listing.h"
#include "platform/server_path.h"
#include "provider/snapshots.h"
#include "support/drive_test.h"

namespace davfp::testing {
namespace {

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
    for (std::string folder : folders) {
      EXPECT_EQ(drive.enumerate(drive.state().id(folder))->calls(), (Strings{"items", "finishPage"}))
          << folder;
    }
    tree.sent();
  }

  // The folders listed since the last look at what the server was sent.
  Strings listed() {
    Strings out;
    for (const auto& e : tree.sent()) {
      if (e.starts_with("PROPFIND ")) out.push_back(e);
    }
    return sorted(out);
  }
};

TEST_F(ChangesTest, UnchangedFoldersGiveNothingAndKeepTheAnchor) {
  remembering({"/", "/a"});
  const int64_t anchor = drive.state().anchor();
  const int writes = env.writes;

  auto rec = drive.changes();
  EXPECT_EQ(rec->calls(), (Strings{"finishChanges"}));
  EXPECT_EQ(rec->anchor(), std::to_string(anchor));
  EXPECT_FALSE(rec->moreComing());
  EXPECT_EQ(env.writes, writes);
  EXPECT_EQ(listed(), (Strings{"PROPFIND 1 /dav/", "PROPFIND 1 /dav/a/"}));

  // A server that now calls the same entity tag weak has changed nothing either.
  tree.file("/f.txt", "f", "W/\"f1\"");
  tree.folder("/a", "W/\"a1\"");
  EXPECT_EQ(drive.changes()->calls(), (Strings{"finishChanges"}));
  EXPECT_EQ(drive.state().anchor(), anchor);
}

TEST_F(ChangesTest, NewChangedAndDeletedChildrenAreReportedOnceInOnePass) {
  remembering({"/", "/a"});
  const int64_t anchor = drive.state().anchor();
  const std::string fId = drive.idOf("/f.txt");
  const std::string xId = drive.idOf("/a/x.txt");
  const int writes = env.writes;

  tree.file("/f.txt", "f changed", "\"f2\"");
  tree.file("/a/new.txt", "new", "\"n1\"");
  tree.remove("/a/x.txt");

  auto rec = drive.changes();
  EXPECT_EQ(rec->calls(), (Strings{"updated", "deleted", "finishChanges"}));
  auto updated = rec->updated();
  EXPECT_EQ(sorted(filenames(updated)), (Strings{"f.txt", "new.txt"}));
  ASSERT_TRUE(findItem(updated, fId)) << "a changed file keeps its identifier";
  EXPECT_EQ(findItem(updated, fId)->itemVersion().contentVersion, "\"f2\"");
  const std::string newId = drive.idOf("/a/new.txt");
  ASSERT_TRUE(findItem(updated, newId));
  EXPECT_EQ(findItem(updated, newId)->parentItemIdentifier(), drive.idOf("/a"));
  EXPECT_EQ(rec->deleted(), (Strings{xId}));
  EXPECT_EQ(drive.idOf("/a/x.txt"), "");
  EXPECT_FALSE(drive.state().path(xId));

  // One forgotten path and one more at the end, handed over as the final value; the state written once.
  EXPECT_EQ(drive.state().anchor(), anchor + 2);
  EXPECT_EQ(rec->anchor(), std::to_string(anchor + 2));
  EXPECT_EQ(env.writes, writes + 1);

  auto again = drive.changes();
  EXPECT_EQ(again->calls(), (Strings{"finishChanges"}));
  EXPECT_EQ(again->anchor(), std::to_string(anchor + 2));

  // A file that reappears at a forgotten path is new, with a new identifier.
  tree.file("/a/x.txt", "back", "\"x1\"");
  auto back = drive.changes();
  ASSERT_EQ(back->calls(), (Strings{"updated", "finishChanges"}));
  EXPECT_NE(back->updated()[0]->itemIdentifier(), xId);
  EXPECT_EQ(back->anchor(), std::to_string(anchor + 3));
}

TEST_F(ChangesTest, VanishedFolderIsReportedByItsOwnIdentifierOnly) {
  struct Case {
    const char* name;
    std::initializer_list<const char*> remembered;
    std::vector<std::string> listedInPass;
  } cases[] = {
      // Found gone in its parent's listing: neither it nor its subfolder is listed.
      {"parent remembered", {"/", "/a", "/a/sub", "/b"}, {"PROPFIND 1 /dav/", "PROPFIND 1 /dav/b/"}},
      // Found gone by its own listing: its subfolder is not listed.
      {"parent not remembered", {"/a", "/a/sub", "/b"}, {"PROPFIND 1 /dav/a/", "PROPFIND 1 /dav/b/"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    tree.file("/a/sub/deep.txt", "d", "\"d1\"");
    remembering(c.remembered, c.name);
    const std::string aId = drive.idOf("/a");
    const int64_t anchor = drive.state().anchor();
    tree.remove("/a");

    auto rec = drive.changes();
    EXPECT_EQ(rec->calls(), (Strings{"deleted", "finishChanges"}));
    EXPECT_EQ(rec->deleted(), (Strings{aId}));
    EXPECT_EQ(listed(), c.listedInPass);
    EXPECT_EQ(rec->anchor(), std::to_string(anchor + 2));
    for (auto path : {"/a", "/a/x.txt", "/a/sub", "/a/sub/deep.txt"}) EXPECT_EQ(drive.idOf(path), "") << path;
    for (const auto& [folder, snapshot] : drive.state().knownFolders()) {
      EXPECT_FALSE(platform::isUnder(folder, "/a")) << folder;
      EXPECT_FALSE(snapshot.contains("/a")) << folder;
    }

    EXPECT_EQ(drive.changes()->calls(), (Strings{"finishChanges"}));
    for (const auto& e : tree.sent()) EXPECT_FALSE(e.starts_with("PROPFIND 1 /dav/a")) << e;
  }
}

TEST_F(ChangesTest, NoIdentifierIsMintedToReportADeletion) {
  remembering({"/"});
  // A snapshot entry whose item the platform was never told about, gone from the server.
  auto kids = childrenOf("/", drive.dav().list("/", 1));
  kids.push_back(DavEntry{.path = "/ghost.txt", .etag = "\"g\""});
  drive.state().remember("/", snapshotOf(kids));
  const int64_t anchor = drive.state().anchor();

  auto rec = drive.changes();
  EXPECT_EQ(rec->calls(), (Strings{"finishChanges"}));
  EXPECT_EQ(drive.idOf("/ghost.txt"), "");
  EXPECT_FALSE(drive.state().knownFolders().at("/").contains("/ghost.txt"));
  EXPECT_EQ(rec->anchor(), std::to_string(anchor + 2));
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
      // and
      // forgetting it would drop every identifier the platform holds.
      {"root not found", "/dav/", {.status = 404}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    remembering({"/", "/a", "/b"}, c.name);
    const std::string added = "/new in " + std::string(c.name);
    tree.file(added, "new", "\"n1\"");  // in the first folder
    tree.remove("/a/x.txt");            // in the second
    tree.fail(c.target, c.reply);
    const std::string xId = drive.idOf("/a/x.txt");
    const int64_t anchor = drive.state().anchor();
    const auto known = drive.state().knownFolders();
    const int writes = env.writes;

    auto failed = drive.changes();
    EXPECT_EQ(failed->calls(), (Strings{"error"}));
    expectError(failed->error(), platform::kFileProviderErrorDomain, platform::fp::kServerUnreachable);
    EXPECT_EQ(drive.state().anchor(), anchor);
    EXPECT_EQ(drive.state().knownFolders(), known);
    EXPECT_EQ(drive.idOf("/a/x.txt"), xId);
    EXPECT_EQ(drive.idOf(added), "");
    EXPECT_EQ(env.writes, writes);

    // The next pass finds the same changes.
    tree.heal();
    auto rec = drive.changes();
    EXPECT_EQ(rec->calls(), (Strings{"updated", "deleted", "finishChanges"}));
    EXPECT_EQ(filenames(rec->updated()), (Strings{added.substr(1)}));
    EXPECT_EQ(rec->deleted(), (Strings{xId}));
    EXPECT_EQ(rec->anchor(), std::to_string(anchor + 2));
  }
}

// A remembered folder whose access was revoked fails neither the pass nor the working set: it is left out
// with everything below it, its snapshot kept and nothing in it reported, and the other folders' changes
// come.
TEST_F(ChangesTest, ARefusedFolderIsLeftOutAndTheRestReported) {
  for (int status : {403, 401}) {
    SCOPED_TRACE(status);
    const std::string domain = "refused " + std::to_string(status);
    tree.file("/a/sub/deep.txt", "d", "\"d1\"");
    remembering({"/", "/a", "/a/sub", "/b"}, domain);
    const std::string xId = drive.idOf("/a/x.txt");
    const auto known = drive.state().knownFolders();
    tree.fail("/dav/a/", {.status = status});
    tree.remove("/a/x.txt");
    tree.file("/b/y.txt", "y changed", "\"y2\"");

    auto rec = drive.changes();
    EXPECT_EQ(rec->calls(), (Strings{"updated", "finishChanges"}));
    EXPECT_EQ(filenames(rec->updated()), (Strings{"y.txt"}));
    EXPECT_EQ(listed(), (Strings{"PROPFIND 1 /dav/", "PROPFIND 1 /dav/a/", "PROPFIND 1 /dav/b/"}));
    for (auto folder : {"/a", "/a/sub"}) EXPECT_EQ(drive.state().knownFolders().at(folder), known.at(folder));
    EXPECT_EQ(drive.idOf("/a/x.txt"), xId);
    auto workingSet = drive.enumerate(platform::kWorkingSetContainerItemIdentifier);
    EXPECT_EQ(workingSet->calls(), (Strings{"items", "finishPage"}));
    EXPECT_EQ(sorted(filenames(workingSet->items())), (Strings{"a", "b", "deep.txt", "f.txt", "y.txt"}));

    // Once access is back, what changed meanwhile is found.
    tree.heal();
    auto back = drive.changes();
    EXPECT_EQ(back->calls(), (Strings{"deleted", "finishChanges"}));
    EXPECT_EQ(back->deleted(), (Strings{xId}));
  }

  // A refused root is the drive refused: the pass fails whole, as the working set does.
  remembering({"/", "/a"}, "refused root");
  tree.fail("/dav/", {.status = 403});
  const int64_t anchor = drive.state().anchor();
  auto failed = drive.changes();
  EXPECT_EQ(failed->calls(), (Strings{"error"}));
  expectError(failed->error(), platform::kCocoaErrorDomain, platform::cocoa::kFileWriteNoPermission);
  EXPECT_EQ(drive.state().anchor(), anchor);
  auto workingSet = drive.enumerate(platform::kWorkingSetContainerItemIdentifier);
  EXPECT_EQ(workingSet->calls(), (Strings{"error"}));
  tree.heal();
}

TEST_F(ChangesTest, AnchorIsTheCounterInDecimal) {
  remembering({"/"});
  drive.state().setAnchor(41);
  auto currentAnchor = [&](const platform::ItemIdentifier& container) {
    std::optional<platform::SyncAnchor> delivered;
    drive.ext().enumerator(container, {})->currentSyncAnchor([&](std::optional<platform::SyncAnchor> a) {
      delivered = a;
    });
    return delivered;  // delivered before currentSyncAnchor returned
  };
  const std::string fId = drive.state().id("/f.txt");
  for (const auto& container : {platform::kWorkingSetContainerItemIdentifier, fId}) {
    SCOPED_TRACE(container);
    EXPECT_EQ(currentAnchor(container), "41");
  }

  tree.file("/f.txt", "changed", "\"f2\"");
  auto rec = drive.changes();
  EXPECT_EQ(rec->calls(), (Strings{"updated", "finishChanges"}));
  EXPECT_EQ(rec->anchor(), "42");
  EXPECT_EQ(currentAnchor(platform::kWorkingSetContainerItemIdentifier), "42");

  // Folders and the trash report no changes of their own: the current anchor, without asking the server.
  server.clearRequests();
  tree.file("/f.txt", "changed again", "\"f3\"");
  for (const auto& container : {platform::kTrashContainerItemIdentifier, fId}) {
    SCOPED_TRACE(container);
    auto other = drive.changes(container);
    EXPECT_EQ(other->calls(), (Strings{"finishChanges"}));
    EXPECT_EQ(other->anchor(), "42");
  }
  EXPECT_TRUE(server.requests().empty());
}

TEST_F(ChangesTest, RestartKeepsIdentifiersSnapshotsAndAnchor) {
  remembering({"/", "/a"});
  tree.remove("/a/x.txt");
  tree.file("/a/later.txt", "l", "\"l1\"");
  ASSERT_EQ(drive.changes()->calls(), (Strings{"updated", "deleted", "finishChanges"}));
  const auto known = drive.state().knownFolders();
  const int64_t anchor = drive.state().anchor();
  std::map<std::string, std::string> ids;
  for (auto path : {"/f.txt", "/a", "/a/later.txt", "/b"}) ids[path] = drive.idOf(path);
  drive.restart();
  EXPECT_EQ(drive.state().anchor(), anchor);
  EXPECT_EQ(drive.state().knownFolders(), known);
  for (const auto& [path, id] : ids) {
    SCOPED_TRACE(path);
    EXPECT_FALSE(id.empty());
    EXPECT_EQ(drive.idOf(path), id);
  }
  EXPECT_EQ(drive.idOf("/a/x.txt"), "");
  Looked looked = drive.item(ids["/a/later.txt"]);
  ASSERT_TRUE(looked.item);
  EXPECT_EQ(looked.item->itemIdentifier(), ids["/a/later.txt"]);
  auto rec = drive.changes();
  EXPECT_EQ(rec->calls(), (Strings{"finishChanges"}));
  EXPECT_EQ(rec->anchor(), std::to_string(anchor));
}

}  // namespace
}  // namespace davfp::testing
