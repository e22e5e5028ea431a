// Item lookup, the item model, and the listings behind them (entry); fetching contents: one lookup, one
// download of the listed length, and nothing left behind that nobody receives.
#include <gtest/gtest.h>

#include <future>

#include "platform/mime_registry.h"
#include "support/drive_test.h"

namespace davfp::testing {
namespace {

using platform::kFileProviderErrorDomain;
using Reply = FakeServer::Reply;

class LookupTest : public DriveTest {};

TEST_F(LookupTest, RootIsAnsweredWithoutTheServerAndIdentifiersWithoutAPathWithNoSuchItem) {
  std::string forgotten = drive.state().id("/gone.txt");
  drive.state().forget("/gone.txt");
  server.stop();    // the published address now refuses connections
  drive.restart();  // creating the extension contacts nothing, so it succeeds all the same

  auto root = drive.item(platform::kRootContainerItemIdentifier);
  ASSERT_FALSE(root.error) << root.error->what();
  EXPECT_EQ(root.item->filename(), "Drive");
  for (const auto& id :
       {platform::ItemIdentifier("0F8C2D1E-9A3B-4C5D-8E7F-102030405060"), forgotten,
        platform::kWorkingSetContainerItemIdentifier, platform::kTrashContainerItemIdentifier}) {
    SCOPED_TRACE(id);
    expectError(drive.item(id).error, platform::kFileProviderErrorDomain, platform::fp::kNoSuchItem);
  }
  auto other = drive.item(drive.state().id("/a.txt"));
  EXPECT_FALSE(other.item);
  expectError(other.error, platform::kFileProviderErrorDomain, platform::fp::kServerUnreachable);
}

// The fields a listing leaves out: a date, an entity tag (the version is then made of size and date), a
// type that the name does not tell (".txt" is a dot file's name, not an extension).
TEST_F(LookupTest, ItemFieldsComeFromTheEntry) {
  const platform::Date jan2024{std::chrono::seconds(1704067200)};
  tree.file("/docs/report.pdf", "12345", "\"E\"", "Mon, 01 Jan 2024 00:00:00 GMT");
  tree.file("/docs/.txt", "h", "W/\"weak\"");
  tree.file("/docs/bare.txt", "abc", std::nullopt);
  tree.folder("/docs/sub", std::nullopt);
  // The server answers for Moved.txt when asked for asked.txt: the item stays the one asked for.
  server.on("PROPFIND", "/dav/docs/asked.txt",
            {.status = 207, .body = multistatus({{"/dav/docs/Moved.txt", false, 2, "\"m\""}})});
  drive.restart();
  struct Case {
    std::string path, type;
    std::optional<int64_t> size;
    bool dated;
    std::string version;
  } cases[] = {
      {"/docs/report.pdf", "application/pdf", 5, true, "\"E\""},
      {"/docs/.txt", "application/octet-stream", 1, false, "W/\"weak\""},
      {"/docs/bare.txt", "text/plain", 3, false, "3-0"},
      {"/docs/sub", "inode/directory", {}, false, "0-0"},
      {"/docs/asked.txt", "text/plain", 2, false, "\"m\""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    auto looked = drive.item(drive.state().id(c.path));
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
  EXPECT_FALSE(drive.state().existingId("/docs/Moved.txt"));
}

class FetchTest : public DriveTest {};

// A body without a length ends where the server closes the connection, so a cut one looks whole to the
// transport: the length listed for the file tells. A download of another size fails as a lost connection
// (sent once more, then unreachable) and leaves no file.
TEST_F(FetchTest, DeliversTheServerBytesOfTheListedLength) {
  std::string bytes;
  for (int i = 0; i < 4 * 256; ++i) bytes += static_cast<char>(i % 256);  // every byte value, NUL included
  const Reply whole{.body = bytes, .noLength = true}, half{.body = bytes.substr(0, 500), .noLength = true};
  struct Case {
    const char* what;
    std::vector<Reply> gets;            // the answers to the GETs, the last one repeated
    std::optional<std::string> served;  // what is delivered; none: the fetch fails unreachable
    size_t getsSent;
  } cases[] = {
      {"cut", {half}, std::nullopt, 2},
      {"longer than listed", {Reply{.body = bytes + "more", .noLength = true}}, std::nullopt, 2},
      {"cut, then whole when sent again", {half, whole}, bytes, 2},
  };
  drive.restart();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string path = "/docs/f " + std::to_string(&c - cases) + ".bin",
                      target = "/dav/docs/f%20" + std::to_string(&c - cases) + ".bin";
    tree.file(path, bytes, "\"v1\"");
    for (const auto& get : c.gets) server.on("GET", target, get);
    const std::string id = drive.state().id(path);

    auto fetched = drive.fetch(id);

    Strings sent{"PROPFIND 0 " + target};
    sent.insert(sent.end(), c.getsSent, "GET " + target);
    EXPECT_EQ(tree.sent(), sent);
    if (!c.served) {
      expectError(fetched.error, kFileProviderErrorDomain, platform::fp::kServerUnreachable);
      EXPECT_FALSE(fetched.file);
      EXPECT_TRUE(env.temporaryFiles().empty());
      continue;
    }
    ASSERT_FALSE(fetched.error) << fetched.error->what();
    EXPECT_EQ(readFile(*fetched.file), *c.served);
    EXPECT_EQ(env.temporaryFiles(), (Strings{*fetched.file}));  // the caller's to keep
    EXPECT_EQ(fetched.item->itemIdentifier(), id);
    env.removeFile(*fetched.file);
  }
}

TEST_F(FetchTest, CancelledBeforeDeliveryGetsCancellationAndRemovesTheDownload) {
  tree.file("/a.txt", "contents");
  drive.restart();
  const std::string id = drive.state().id("/a.txt");

  // The download is complete when the item is built; hold the work there until the platform has cancelled.
  std::promise<void> downloaded, cancelled;
  std::promise<std::string> removed;
  auto ready = [](auto future) {
    return future.wait_for(std::chrono::seconds(30)) == std::future_status::ready;
  };
  env.onTypeLookup = [&, cancelledNow = cancelled.get_future().share()](std::string_view) {
    downloaded.set_value();
    ASSERT_TRUE(ready(cancelledNow));
  };
  env.onRemove = [&](const std::string& path) { removed.set_value(path); };
  std::atomic<int> calls = 0;
  std::optional<platform::Error> error;
  auto progress = drive.ext().fetchContents(
      id, platform::ItemVersion{"any", "version"}, {},
      [&](std::optional<std::string> file, platform::ItemRef, std::optional<platform::Error> e) {
        EXPECT_FALSE(file);
        error = std::move(e);
        ++calls;
      });
  ASSERT_TRUE(ready(downloaded.get_future().share()));
  EXPECT_EQ(env.temporaryFiles().size(), 1u);
  progress->cancel();
  EXPECT_EQ(calls, 1);  // at once, on the cancelling thread
  expectError(error, platform::kCocoaErrorDomain, platform::cocoa::kUserCancelled);
  cancelled.set_value();

  auto removedFile = removed.get_future().share();
  ASSERT_TRUE(ready(removedFile)) << "the download that nobody received is still there";
  EXPECT_TRUE(env.temporaryFiles().empty());
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(progress->completedUnitCount(), 1);
}

}  // namespace
}  // namespace davfp::testing
