// The extension against real WebDAV servers: browsing, fetching, and following changes made on the server's
// disk behind its back.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <set>

#include "client/platform_client.h"
#include "support/real_server.h"
#include "support/temp_dir.h"
#include "support/test_drive.h"

namespace davfp::testing {
namespace {

namespace fs = std::filesystem;

class ExtensionServersTest : public ::testing::TestWithParam<ServerKind> {
 protected:
  void SetUp() override {
    // A server that drops root must reach its folder: TempDir is private (0700) by default.
    ASSERT_EQ(::chmod(tmp_.path().c_str(), 0755), 0);
    fs::create_directory(root_);
  }

  // Enumerates the folder and returns its children by name.
  std::map<std::string, platform::ItemRef> children(const platform::ItemIdentifier& folder) {
    std::map<std::string, platform::ItemRef> out;
    for (const auto& item : drive_->list(folder)) out[item->filename()] = item;
    return out;
  }

  // Writes a file into the served folder behind the server's back.
  void place(const std::string& relative, const std::string& bytes) {
    fs::create_directories(fs::path(root_ + "/" + relative).parent_path());
    writeFile(root_ + "/" + relative, bytes);
  }

  TempDir tmp_;
  const std::string root_ = tmp_.file("root");
  std::unique_ptr<TestDrive> drive_;
};

TEST_P(ExtensionServersTest, BrowsesFetchesAndFollowsChangesMadeOnTheServer) {
  std::string bytes;
  for (int i = 0; i < 64 * 1024; ++i) bytes += static_cast<char>((i * 7) % 256);
  place("hello.bin", bytes);
  place("docs/report.txt", "first version");
  place("docs/old.txt", "to be deleted");
  place("docs/keep.txt", "unchanged");
  place("gone/inner.txt", "inside a folder to be deleted");
  place("gone/sub/deep.txt", "deeper");
  auto server = RealServer::start(GetParam(), root_);
  server->adopt(root_);
  SCOPED_TRACE(server->name());
  drive_ = std::make_unique<TestDrive>(server->baseUrl());

  // Browse: the root, a subfolder, and the folders of the tree that will be deleted.
  auto top = children(platform::kRootContainerItemIdentifier);
  ASSERT_EQ(top.size(), 3u);
  ASSERT_TRUE(top.count("hello.bin") && top.count("docs") && top.count("gone"));
  EXPECT_EQ(top["hello.bin"]->documentSize(), static_cast<int64_t>(bytes.size()));
  EXPECT_EQ(top["docs"]->contentType(), "inode/directory");
  auto docs = children(top["docs"]->itemIdentifier());
  ASSERT_EQ(docs.size(), 3u);
  ASSERT_TRUE(docs.count("report.txt") && docs.count("old.txt") && docs.count("keep.txt"));
  EXPECT_EQ(docs["report.txt"]->parentItemIdentifier(), top["docs"]->itemIdentifier());
  EXPECT_EQ(docs["report.txt"]->contentType(), "text/plain");
  auto gone = children(top["gone"]->itemIdentifier());
  ASSERT_TRUE(gone.count("sub"));
  EXPECT_EQ(children(gone["sub"]->itemIdentifier()).size(), 1u);

  // Fetch: the server's bytes.
  auto fetched = client::PlatformClient(drive_->ext().shared_from_this())
                     .fetch(top["hello.bin"]->itemIdentifier(), std::nullopt);
  EXPECT_EQ(readFile(fetched.file), bytes);

  // Nothing changed yet (a server may call a fresh entity tag weak first and strong later: no change).
  auto quiet = drive_->changes();
  EXPECT_FALSE(quiet->error());
  EXPECT_TRUE(quiet->updated().empty() && quiet->deleted().empty());

  // Change the tree behind the server's back: add, modify, delete a file, delete a folder with a subfolder.
  place("docs/new.txt", "a new file");
  place("docs/report.txt", "second, longer version");
  fs::last_write_time(root_ + "/docs/report.txt",
                      fs::last_write_time(root_ + "/docs/report.txt") + std::chrono::seconds(10));
  fs::remove(root_ + "/docs/old.txt");
  fs::remove_all(root_ + "/gone");
  server->adopt(root_);

  auto pass = drive_->changes();
  ASSERT_FALSE(pass->error()) << pass->error()->what();
  std::map<std::string, platform::ItemRef> updated;
  for (const auto& item : pass->updated()) updated[item->filename()] = item;
  // The folders whose own version changed with their contents may come along; nothing else.
  if (updated.count("docs")) {
    EXPECT_EQ(updated["docs"]->itemIdentifier(), top["docs"]->itemIdentifier());
    updated.erase("docs");
  }
  ASSERT_EQ(updated.size(), 2u);
  ASSERT_TRUE(updated.count("new.txt") && updated.count("report.txt"));
  EXPECT_EQ(updated["report.txt"]->itemIdentifier(), docs["report.txt"]->itemIdentifier());
  EXPECT_NE(updated["report.txt"]->itemVersion().contentVersion,
            docs["report.txt"]->itemVersion().contentVersion);
  EXPECT_EQ(updated["report.txt"]->documentSize(), 22);
  const auto deleted = pass->deleted();
  EXPECT_EQ(std::set<std::string>(deleted.begin(), deleted.end()),
            (std::set<std::string>{docs["old.txt"]->itemIdentifier(), top["gone"]->itemIdentifier()}));
  EXPECT_EQ(pass->anchor(), drive_->ext().anchor());

  // Reported once: the next pass finds nothing.
  auto after = drive_->changes();
  EXPECT_TRUE(after->updated().empty() && after->deleted().empty());
  EXPECT_EQ(after->anchor(), pass->anchor());
}

INSTANTIATE_TEST_SUITE_P(Servers, ExtensionServersTest, ::testing::ValuesIn(allServerKinds()),
                         [](const auto& kind) { return serverName(kind.param); });

}  // namespace
}  // namespace davfp::testing
