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
  EXPECT_EQ(root.item->itemIdentifier(), platform::kRootContainerItemIdentifier);
  EXPECT_EQ(root.item->parentItemIdentifier(), platform::kRootContainerItemIdentifier);
  EXPECT_EQ(root.item->filename(), "Drive");
  EXPECT_EQ(root.item->contentType(), platform::kFolderType);
  EXPECT_FALSE(root.item->documentSize() || root.item->contentModificationDate());
  EXPECT_EQ(root.item->itemVersion(), (platform::ItemVersion{"root", "root|/"}));
  EXPECT_EQ(root.item->capabilities(), 47u);
  for (const auto& id : {platform::ItemIdentifier("0F8C2D1E-9A3B-4C5D-8E7F-102030405060"), forgotten,
                         platform::kWorkingSetContainerItemIdentifier, platform::kTrashContainerItemIdentifier}) {
    SCOPED_TRACE(id);
    expectError(drive.item(id).error, platform::kFileProviderErrorDomain, platform::fp::kNoSuchItem);
  }
  Looked other = drive.item(drive.state().id("/a.txt"));
  EXPECT_FALSE(other.item);
  expectError(other.error, platform::kFileProviderErrorDomain, platform::fp::kServerUnreachable);
}

TEST_F(LookupTest, ItemFieldsComeFromTheEntry) {
  const platform::Date jan2024{std::chrono::seconds(1704067200)};
  tree.folder("/docs", "\"folder-etag\"");
  tree.file("/docs/report.pdf", "12345", "\"E\"", "Mon, 01 Jan 2024 00:00:00 GMT");
  tree.file("/docs/notes.zzqqx", "n", "W/\"weak\"");
  tree.file("/docs/README", "readme", "\"R\"");
  tree.file("/docs/.hidden", "h", "\"H\"");
  tree.file("/docs/bare.txt", "abc", std::nullopt);  // neither entity tag nor date
  tree.folder("/docs/sub", std::nullopt);
  drive.restart();
  const std::string root = platform::kRootContainerItemIdentifier, docs = drive.state().id("/docs");
  struct Case {
    std::string path, parent, filename, type;
    std::optional<int64_t> size;
    bool dated;
    std::string version;
  } cases[] = {
      {"/docs", root, "docs", "inode/directory", {}, false, "\"folder-etag\""},
      {"/docs/report.pdf", docs, "report.pdf", "application/pdf", 5, true, "\"E\""},
      {"/docs/notes.zzqqx", docs, "notes.zzqqx", "application/octet-stream", 1, false, "W/\"weak\""},
      {"/docs/README", docs, "README", "application/octet-stream", 6, false, "\"R\""},
      {"/docs/.hidden", docs, ".hidden", "application/octet-stream", 1, false, "\"H\""},
      {"/docs/bare.txt", docs, "bare.txt", "text/plain", 3, false, "3-0"},
      {"/docs/sub", docs, "sub", "inode/directory", {}, false, "0-0"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    const std::string id = drive.state().id(c.path);
    Looked looked = drive.item(id);
    ASSERT_FALSE(looked.error) << looked.error->what();
    const auto& item = *looked.item;
    EXPECT_EQ(item.itemIdentifier(), id);
    EXPECT_EQ(item.parentItemIdentifier(), c.parent);
    EXPECT_EQ(item.filename(), c.filename);
    EXPECT_EQ(item.contentType(), c.type);
    EXPECT_EQ(item.documentSize(), c.size);
    EXPECT_EQ(item.contentModificationDate(), c.dated ? std::optional(jan2024) : std::nullopt);
    EXPECT_EQ(item.creationDate(), c.dated ? std::optional(jan2024) : std::nullopt);
    EXPECT_EQ(item.itemVersion(), (platform::ItemVersion{c.version, c.version + "|" + c.path}));
    EXPECT_EQ(item.capabilities(), 47u);
  }
  // A lookup lists the path alone and remembers nothing.
  EXPECT_EQ(tree.sent().front(), "PROPFIND 0 /dav/docs");
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
  EXPECT_EQ(looked.item->filename(), "asked.txt");
  EXPECT_EQ(looked.item->itemVersion().metadataVersion, "\"m\"|/asked.txt");
  EXPECT_EQ(looked.item->documentSize(), 2);
  EXPECT_FALSE(drive.state().existingId("/Moved.txt"));
}

}  // namespace
}  // namespace davfp::testing
