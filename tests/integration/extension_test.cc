// The extension against real WebDAV servers: browsing, fetching and following changes made on the server's
// disk behind its back; creating, renaming, moving, replacing and deleting, checked on the server's disk and
// after every step by a change pass of the working set that finds nothing the platform does not know already;
// and a deletion refused where the served tree loops.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>

#include "client/platform_client.h"
#include "support/host_drive.h"
#include "support/test_drive.h"

namespace davfp::testing {
namespace {

namespace fs = std::filesystem;
using namespace platform::field;
const platform::ItemIdentifier kRoot = platform::kRootContainerItemIdentifier;

// Each test serves a folder with a server of its kind; files are placed in it behind the server's back.
class ExtensionServersTest : public ::testing::TestWithParam<ServerKind> {
 protected:
  TestDrive& startDrive() {
    host_.serve(GetParam());
    drive_ = std::make_unique<TestDrive>(host_.server().baseUrl());
    return *drive_;
  }

  // The served folder's file of a server path.
  std::string disk(const std::string& path) const { return host_.served() + path; }

  // Enumerates the folder and returns its children by name.
  std::map<std::string, platform::ItemRef> children(const platform::ItemIdentifier& folder) {
    std::map<std::string, platform::ItemRef> out;
    for (const auto& item : drive_->list(folder)) out[item->filename()] = item;
    return out;
  }

  // One step of a sequence: its outcome (an item, or the Cocoa error code refused), what the server's disk
  // holds after it (contents, kFolder, or nullptr for nothing there), and a quiet change pass: no deletion
  // and no file reported as new or changed (a folder may be: its own version changes with what happens
  // inside it on some servers). A created folder is opened, as the user would.
  static constexpr const char* kFolder = "/";
  void step(const std::string& what, const WriteOutcome& outcome, std::map<std::string, const char*> onDisk,
            int refused = 0) {
    SCOPED_TRACE(what);
    if (refused) {
      ASSERT_TRUE(outcome.error) << "succeeded";
      EXPECT_EQ(outcome.error->domain(), platform::kCocoaErrorDomain);
      EXPECT_EQ(outcome.error->code(), refused);
    } else {
      ASSERT_FALSE(outcome.error) << outcome.error->what() << "\n" << host_.server().log();
    }
    if (outcome.item && outcome.item->contentType() == platform::kFolderType) {
      drive_->list(outcome.item->itemIdentifier());
    }
    for (const auto& [path, contents] : onDisk) {
      SCOPED_TRACE(path);
      if (!contents) {
        EXPECT_FALSE(std::filesystem::exists(disk(path)));
      } else if (contents == kFolder) {
        EXPECT_TRUE(std::filesystem::is_directory(disk(path)));
      } else {
        EXPECT_EQ(readFile(disk(path)), contents);
      }
    }
    auto pass = drive_->changes();
    ASSERT_FALSE(pass->error()) << pass->error()->what();
    EXPECT_TRUE(pass->deleted().empty())
        << pass->deleted().size() << " deleted, the first " << pass->deleted()[0];
    for (const auto& item : pass->updated()) {
      EXPECT_EQ(item->contentType(), platform::kFolderType)
          << "reported as new or changed: " << item->filename();
    }
  }

  HostDrive host_;  // the served folder and its server
  std::unique_ptr<TestDrive> drive_;
};

TEST_P(ExtensionServersTest, BrowsesFetchesAndFollowsChangesMadeOnTheServer) {
  const std::string bytes = patterned(64 * 1024);
  host_.placeOnServer("hello.bin", bytes);
  host_.placeOnServer("docs/report.txt", "first version");
  host_.placeOnServer("docs/old.txt", "to be deleted");
  host_.placeOnServer("docs/keep.txt", "unchanged");
  host_.placeOnServer("gone/inner.txt", "inside a folder to be deleted");
  host_.placeOnServer("gone/sub/deep.txt", "deeper");
  startDrive();
  SCOPED_TRACE(host_.server().name());

  // Browse: the root, a subfolder, and the folders of the tree that will be deleted.
  auto top = children(kRoot);
  ASSERT_EQ(top.size(), 3u);
  ASSERT_TRUE(top.count("hello.bin") && top.count("docs") && top.count("gone"));
  auto docs = children(top["docs"]->itemIdentifier());
  ASSERT_EQ(docs.size(), 3u);
  ASSERT_TRUE(docs.count("report.txt") && docs.count("old.txt") && docs.count("keep.txt"));
  auto gone = children(top["gone"]->itemIdentifier());
  ASSERT_TRUE(gone.count("sub"));
  EXPECT_EQ(children(gone["sub"]->itemIdentifier()).size(), 1u);

  auto fetched =
      client::PlatformClient(drive_->shared()).fetch(top["hello.bin"]->itemIdentifier(), std::nullopt);
  EXPECT_EQ(readFile(fetched.file), bytes);
  // Nothing changed yet (a server may call a fresh entity tag weak first and strong later: no change).
  auto quiet = drive_->changes();
  EXPECT_FALSE(quiet->error());
  EXPECT_TRUE(quiet->updated().empty() && quiet->deleted().empty());

  // Change the tree behind the server's back: add, modify, delete a file, delete a folder with a subfolder.
  host_.placeOnServer("docs/new.txt", "a new file");
  host_.placeOnServer("docs/report.txt", "second, longer version");
  fs::last_write_time(disk("/docs/report.txt"),
                      fs::last_write_time(disk("/docs/report.txt")) + std::chrono::seconds(10));
  fs::remove(disk("/docs/old.txt"));
  fs::remove_all(disk("/gone"));

  auto pass = drive_->changes();
  ASSERT_FALSE(pass->error()) << pass->error()->what();
  std::map<std::string, platform::ItemRef> updated;
  for (const auto& item : pass->updated()) updated[item->filename()] = item;
  updated.erase("docs");  // its own version may change with its contents; nothing else may come along
  ASSERT_EQ(updated.size(), 2u);
  ASSERT_TRUE(updated.count("new.txt") && updated.count("report.txt"));
  EXPECT_EQ(updated["report.txt"]->itemIdentifier(), docs["report.txt"]->itemIdentifier());
  EXPECT_NE(updated["report.txt"]->itemVersion().contentVersion,
            docs["report.txt"]->itemVersion().contentVersion);
  const auto deleted = pass->deleted();
  EXPECT_EQ(std::set<std::string>(deleted.begin(), deleted.end()),
            (std::set<std::string>{docs["old.txt"]->itemIdentifier(), top["gone"]->itemIdentifier()}));

  // Reported once: the next pass finds nothing.
  auto after = drive_->changes();
  EXPECT_TRUE(after->updated().empty() && after->deleted().empty());
}

TEST_P(ExtensionServersTest, CreatesRenamesMovesReplacesAndDeletes) {
  TestDrive& d = startDrive();
  d.list(kRoot);
  auto file = [&d](std::string name, const std::string& parent, const std::string& path = "") {
    return TemplateItem::file(std::move(name), d.id(parent), path.empty() ? "" : d.id(path));
  };
  auto folder = [&d](std::string name, const std::string& parent, const std::string& path = "") {
    return TemplateItem::folder(std::move(name), d.id(parent), path.empty() ? "" : d.id(path));
  };
  const std::string b = "/archive/b.txt", c = "/docs/c.txt";

  step("create a folder", d.create(folder("docs", "/")), {{"/docs", kFolder}});
  const std::string docsId = d.id("/docs");  // identifiers taken here follow their items
  step("create another folder", d.create(folder("archive", "/")), {{"/archive", kFolder}});
  step("create a file", d.create(file("a.txt", "/docs"), d.contents("alpha")), {{"/docs/a.txt", "alpha"}});
  step("rename", d.modify(file("b.txt", "/docs", "/docs/a.txt"), kFilename),
       {{"/docs/a.txt", nullptr}, {"/docs/b.txt", "alpha"}});
  step("move across folders", d.modify(file("b.txt", "/archive", "/docs/b.txt"), kParentItemIdentifier),
       {{"/docs/b.txt", nullptr}, {b, "alpha"}});
  const std::string bId = d.id(b);
  step("replace contents",
       d.modify(file("b.txt", "/archive", b), kContents | kContentModificationDate,
                d.contents("beta, longer")),
       {{b, "beta, longer"}});
  step("create another file", d.create(file("c.txt", "/docs"), d.contents("gamma")), {{c, "gamma"}});
  step("move a file onto an existing name",
       d.modify(file("c.txt", "/docs", b), kFilename | kParentItemIdentifier),
       {{b, "beta, longer"}, {c, "gamma"}}, 512);
  EXPECT_EQ(d.state().path(bId), b);
  // Refused alike by every server (lighttpd in a Multi-Status answer).
  step("move a folder onto an existing name", d.modify(folder("archive", "/", "/docs"), kFilename),
       {{c, "gamma"}}, 512);
  EXPECT_EQ(d.state().path(docsId), "/docs");
  const std::string cId = d.id(c);
  step("rename a folder", d.modify(folder("papers", "/", "/docs"), kFilename),
       {{"/docs", nullptr}, {"/papers/c.txt", "gamma"}});
  EXPECT_EQ(d.state().path(cId), "/papers/c.txt");
  step("delete a tree", {.error = d.remove(docsId, "", true)}, {{"/papers", nullptr}, {b, "beta, longer"}});
  EXPECT_EQ(d.state().path(docsId), std::nullopt);
  EXPECT_EQ(d.state().path(cId), std::nullopt);
  auto version = d.lookup().item(d.lookup().entry(b))->itemVersion().contentVersion;
  step("delete a file", {.error = d.remove(bId, version, false)}, {{b, nullptr}});
}

INSTANTIATE_TEST_SUITE_P(Servers, ExtensionServersTest, ::testing::ValuesIn(allServerKinds()),
                         [](const auto& kind) { return serverName(kind.param); });

// rclone serving with -L shows a link to a folder above as a folder: the tree of /a goes round
// /a/b/c/d/e/up/a/b/... while every turn also holds /keep. Deleting /a must delete nothing of /keep through the
// loop: the walk is refused before any DELETE. The link sits five levels down so that the walk's depth limit is
// reached through few links: the kernel refuses a path through 40, and with other tests running beside this one
// it was seen refusing one through 27, which rclone then answers with a failure of its own.
TEST(WritebackLinksTest, DeletesNothingOfATreeThatLoops) {
  HostDrive host;
  const std::string root = host.served();
  fs::create_directories(root + "/a/b/c/d/e");
  fs::create_directories(root + "/keep");
  writeFile(root + "/a/mine.txt", "mine");
  writeFile(root + "/keep/important.txt", "important");
  fs::create_directory_symlink("../../../../..", root + "/a/b/c/d/e/up");
  auto server = RealServer::start(ServerKind::rclone, root, std::nullopt, /*followLinks=*/true);
  TestDrive drive(server->baseUrl());
  drive.list(kRoot);
  const std::string a = drive.id("/a");
  drive.list(a);

  auto error = drive.remove(a, "", true);
  ASSERT_TRUE(error) << "the looping tree was deleted";
  EXPECT_EQ(error->code(), platform::fp::kDeletionRejected);
  EXPECT_EQ(readFile(root + "/keep/important.txt"), "important");
  EXPECT_EQ(readFile(root + "/a/mine.txt"), "mine");
}

}  // namespace
}  // namespace davfp::testing
