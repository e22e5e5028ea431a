// Write-back against real WebDAV servers: creating, renaming, moving, replacing and deleting through the
// extension, checked on the server's disk, and after every step a change pass of the working set that finds
// nothing the platform does not know already; and a deletion refused where the served tree loops.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "support/real_server.h"
#include "support/temp_dir.h"
#include "support/test_drive.h"

namespace davfp::testing {

namespace {

using namespace platform::field;
namespace fs = std::filesystem;

class WritebackServersTest : public ::testing::TestWithParam<ServerKind> {
 protected:
  void SetUp() override {
    // A server that drops root must reach its folder: TempDir is private (0700) by default.
    ASSERT_EQ(::chmod(tmp_.path().c_str(), 0755), 0);
    fs::create_directory(root_);
    server_ = RealServer::start(GetParam(), root_);
    drive_ = std::make_unique<TestDrive>(server_->baseUrl());
    drive_->list(platform::kRootContainerItemIdentifier);
  }

  // The item after a request that must succeed.
  platform::ItemRef ok(const WriteOutcome& outcome, const std::string& step) {
    EXPECT_FALSE(outcome.error) << step << ": " << outcome.error->what() << "\n" << server_->log();
    EXPECT_TRUE(outcome.item) << step;
    return outcome.item;
  }

  // A change pass that reports no deletion and no file as new or changed. A folder may be reported: its own
  // version changes with what happens inside it on some servers.
  void expectQuiet(const std::string& step) {
    SCOPED_TRACE("change pass after: " + step);
    auto pass = drive_->changes();
    ASSERT_FALSE(pass->error()) << pass->error()->what();
    EXPECT_TRUE(pass->deleted().empty())
        << pass->deleted().size() << " deleted, the first " << pass->deleted()[0];
    for (const auto& item : pass->updated()) {
      EXPECT_EQ(item->contentType(), platform::kFolderType)
          << "reported as new or changed: " << item->filename();
    }
  }

  std::string disk(const std::string& path) { return root_ + path; }

  TempDir tmp_;
  const std::string root_ = tmp_.file("root");
  std::unique_ptr<RealServer> server_;
  std::unique_ptr<TestDrive> drive_;
};

TEST_P(WritebackServersTest, CreatesRenamesMovesReplacesAndDeletes) {
  TestDrive& drive = *drive_;
  const auto root = platform::kRootContainerItemIdentifier;

  auto docs = ok(drive.create(TemplateItem::folder("docs")), "create folder");
  ASSERT_TRUE(docs);
  EXPECT_TRUE(fs::is_directory(disk("/docs")));
  drive.list(docs->itemIdentifier());
  expectQuiet("create folder");

  auto again = ok(drive.create(TemplateItem::folder("docs")), "create the folder again");
  ASSERT_TRUE(again);
  EXPECT_EQ(again->itemIdentifier(), docs->itemIdentifier());

  auto archive = ok(drive.create(TemplateItem::folder("archive")), "create another folder");
  ASSERT_TRUE(archive);
  drive.list(archive->itemIdentifier());

  auto file = ok(drive.create(TemplateItem::file("a.txt", docs->itemIdentifier()), drive.contents("alpha")),
                 "create file");
  ASSERT_TRUE(file);
  const std::string id = file->itemIdentifier();
  EXPECT_EQ(readFile(disk("/docs/a.txt")), "alpha");
  expectQuiet("create file");

  ok(drive.modify(TemplateItem::file("b.txt", docs->itemIdentifier(), id), kFilename), "rename");
  EXPECT_FALSE(fs::exists(disk("/docs/a.txt")));
  EXPECT_EQ(readFile(disk("/docs/b.txt")), "alpha");
  expectQuiet("rename");

  ok(drive.modify(TemplateItem::file("b.txt", archive->itemIdentifier(), id), kParentItemIdentifier),
     "move across folders");
  EXPECT_EQ(readFile(disk("/archive/b.txt")), "alpha");
  EXPECT_FALSE(fs::exists(disk("/docs/b.txt")));
  expectQuiet("move across folders");
  EXPECT_EQ(drive.state().path(id), "/archive/b.txt");

  ok(drive.modify(TemplateItem::file("b.txt", archive->itemIdentifier(), id),
                  kContents | kContentModificationDate, drive.contents("beta, longer")),
     "replace contents");
  EXPECT_EQ(readFile(disk("/archive/b.txt")), "beta, longer");
  expectQuiet("replace contents");

  ok(drive.create(TemplateItem::file("c.txt", docs->itemIdentifier()), drive.contents("gamma")),
     "create another file");
  expectQuiet("create another file");
  auto onto = drive.modify(TemplateItem::file("c.txt", docs->itemIdentifier(), id),
                           kFilename | kParentItemIdentifier);
  ASSERT_TRUE(onto.error) << "a move onto an existing name succeeded";
  EXPECT_EQ(onto.error->domain(), platform::kCocoaErrorDomain);
  EXPECT_EQ(onto.error->code(), 512);
  EXPECT_EQ(readFile(disk("/archive/b.txt")), "beta, longer");
  EXPECT_EQ(readFile(disk("/docs/c.txt")), "gamma");
  EXPECT_EQ(drive.state().path(id), "/archive/b.txt");
  expectQuiet("a refused move");

  // A folder onto an existing name: refused alike by every server (lighttpd in a Multi-Status answer).
  auto folderOnto = drive.modify(TemplateItem::folder("archive", root, docs->itemIdentifier()), kFilename);
  ASSERT_TRUE(folderOnto.error) << "a folder's move onto an existing name succeeded";
  EXPECT_EQ(folderOnto.error->domain(), platform::kCocoaErrorDomain);
  EXPECT_EQ(folderOnto.error->code(), 512);
  EXPECT_EQ(readFile(disk("/docs/c.txt")), "gamma");
  EXPECT_EQ(drive.state().path(docs->itemIdentifier()), "/docs");
  expectQuiet("a refused folder move");

  const std::string c = drive.id("/docs/c.txt");
  ok(drive.modify(TemplateItem::folder("papers", root, docs->itemIdentifier()), kFilename),
     "rename a folder");
  EXPECT_EQ(readFile(disk("/papers/c.txt")), "gamma");
  EXPECT_EQ(drive.state().path(c), "/papers/c.txt");
  expectQuiet("rename a folder");

  // A tree three folders deep below papers, every folder enumerated as the user opened it.
  std::string parent = docs->itemIdentifier();
  for (const char* name : {"l1", "l2", "l3"}) {
    auto folder = ok(drive.create(TemplateItem::folder(name, parent)), std::string("create ") + name);
    ASSERT_TRUE(folder);
    parent = folder->itemIdentifier();
    drive.list(parent);
    ok(drive.create(TemplateItem::file(std::string(name) + ".txt", parent), drive.contents(name)),
       std::string("create a file in ") + name);
  }
  EXPECT_EQ(readFile(disk("/papers/l1/l2/l3/l3.txt")), "l3");
  expectQuiet("build a tree");

  auto error = drive.remove(docs->itemIdentifier(), "", true);
  EXPECT_FALSE(error) << error->what() << "\n" << server_->log();
  EXPECT_FALSE(fs::exists(disk("/papers")));
  EXPECT_TRUE(fs::exists(disk("/archive/b.txt")));
  EXPECT_EQ(drive.state().path(docs->itemIdentifier()), std::nullopt);
  EXPECT_EQ(drive.state().path(c), std::nullopt);
  expectQuiet("delete a tree");

  error = drive.remove(
      id, drive.lookup().item(drive.lookup().entry("/archive/b.txt"))->itemVersion().contentVersion, false);
  EXPECT_FALSE(error) << error->what();
  EXPECT_FALSE(fs::exists(disk("/archive/b.txt")));
  expectQuiet("delete a file");
}

// rclone serving with -L shows a link to a folder above as a folder: the tree of /a goes round
// /a/up/a/up/... while every level also holds /keep. Deleting /a must delete nothing of /keep through the
// loop: the walk is refused before any DELETE.
TEST(WritebackLinksTest, DeletesNothingOfATreeThatLoops) {
  TempDir tmp;
  ASSERT_EQ(::chmod(tmp.path().c_str(), 0755), 0);
  const std::string root = tmp.file("root");
  fs::create_directories(root + "/a");
  fs::create_directories(root + "/keep");
  writeFile(root + "/a/mine.txt", "mine");
  writeFile(root + "/keep/important.txt", "important");
  fs::create_directory_symlink("..", root + "/a/up");
  auto server = RealServer::start(ServerKind::rclone, root, "/dav/", std::nullopt, /*followLinks=*/true);
  TestDrive drive(server->baseUrl());
  drive.list(platform::kRootContainerItemIdentifier);
  const std::string a = drive.id("/a");
  drive.list(a);

  auto error = drive.remove(a, "", true);
  ASSERT_TRUE(error) << "the looping tree was deleted";
  EXPECT_EQ(error->domain(), platform::kFileProviderErrorDomain);
  EXPECT_EQ(error->code(), platform::fp::kDeletionRejected);
  EXPECT_EQ(readFile(root + "/keep/important.txt"), "important");
  EXPECT_EQ(readFile(root + "/a/mine.txt"), "mine");
  EXPECT_TRUE(fs::is_symlink(root + "/a/up"));
  EXPECT_EQ(drive.state().path(a), "/a");
}

INSTANTIATE_TEST_SUITE_P(Servers, WritebackServersTest, ::testing::ValuesIn(allServerKinds()),
                         [](const auto& kind) { return serverName(kind.param); });

}  // namespace
}  // namespace davfp::testing
