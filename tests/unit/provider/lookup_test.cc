// Item lookup, the item model, and the listings behind them (entry).
#include <gtest/gtest.h>

#include "platform/mime_registry.h"
#include "support/drive_test.h"

namespace davfp::testing {
namespace {

class LookupTest : public DriveTest {};

TEST_F(LookupTest, RootIsAnsweredWithoutTheServerAndIdentifiersWithoutAPathWithNoSuchItem) {
  std::string forgotten = drive.state().id("/gone.txt");
  drive.state().forget("/gone.txt");
  server.stop();    // the published address now refuses connections
  drive.restart();  // creating the extension contacts nothing, so it succeeds all the same

  Looked root = drive.item(platform::kRootContainerItemIdentifier);
  ASSERT_FALSE(root.error) << root.error->what();
  EXPECT_EQ(root.item->filename(), "Drive");
  for (const auto& id :
       {platform::ItemIdentifier("0F8C2D1E-9A3B-4C5D-8E7F-102030405060"), forgotten,
        platform::kWorkingSetContainerItemIdentifier, platform::kTrashContainerItemIdentifier}) {
    SCOPED_TRACE(id);
    expectError(drive.item(id).error, platform::kFileProviderErrorDomain, platform::fp::kNoSuchItem);
  }
  Looked other = drive.item(drive.state().id("/a.txt"));
  EXPECT_FALSE(other.item);
  expectError(other.error, platform::kFileProviderErrorDomain, platform::fp::kServerUnreachable);
}

// The fields a listing leaves out: a date, an entity tag (the version is then made of size and date), a
// type that the name does not tell.
TEST_F(LookupTest, ItemFieldsComeFromTheEntry) {
  const platform::Date jan2024{std::chrono::seconds(1704067200)};
  tree.file("/docs/report.pdf", "12345", "\"E\"", "Mon, 01 Jan 2024 00:00:00 GMT");
  tree.file("/docs/.hidden", "h", "W/\"weak\"");
  tree.file("/docs/bare.txt", "abc", std::nullopt);
  tree.folder("/docs/sub", std::nullopt);
  drive.restart();
  struct Case {
    std::string path, type;
    std::optional<int64_t> size;
    bool dated;
    std::string version;
  } cases[] = {
      {"/docs/report.pdf", "application/pdf", 5, true, "\"E\""},
      {"/docs/.hidden", "application/octet-stream", 1, false, "W/\"weak\""},
      {"/docs/bare.txt", "text/plain", 3, false, "3-0"},
      {"/docs/sub", "inode/directory", {}, false, "0-0"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    Looked looked = drive.item(drive.state().id(c.path));
    ASSERT_FALSE(looked.error) << looked.error->what();
    EXPECT_EQ(looked.item->parentItemIdentifier(), drive.state().id("/docs"));
    EXPECT_EQ(looked.item->contentType(), c.type);
    EXPECT_EQ(looked.item->documentSize(), c.size);
    EXPECT_EQ(looked.item->contentModificationDate(), c.dated ? std::optional(jan2024) : std::nullopt);
    EXPECT_EQ(looked.item->itemVersion(), (platform::ItemVersion{c.version, c.version + "|" + c.path}));
  }
  // A lookup lists the path alone and remembers nothing.
  EXPECT_EQ(tree.sent().front(), "PROPFIND 0 /dav/docs/report.pdf");
  EXPECT_TRUE(drive.state().knownFolders().empty());
}

TEST_F(LookupTest, AnswerSpelledDifferentlyKeepsThePathAskedFor) {
  // The server answers for /Moved.txt when asked for /asked.txt; the item stays the one asked for.
  server.on("PROPFIND", "/dav/asked.txt",
            {.status = 207, .body = multistatus({{"/dav/Moved.txt", false, 2, "\"m\""}})});
  drive.restart();
  const std::string id = drive.state().id("/asked.txt");
  Looked looked = drive.item(id);
  ASSERT_FALSE(looked.error) << looked.error->what();
  EXPECT_EQ(looked.item->itemIdentifier(), id);
  EXPECT_EQ(looked.item->itemVersion().metadataVersion, "\"m\"|/asked.txt");
  EXPECT_FALSE(drive.state().existingId("/Moved.txt"));
}

}  // namespace
}  // namespace davfp::testing
