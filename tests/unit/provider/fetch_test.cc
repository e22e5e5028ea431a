// Fetching contents: one lookup, one download, and nothing left behind that nobody receives.
#include <gtest/gtest.h>

#include "unit/provider/provider_test_env.h"

namespace davfp::testing {
namespace {

class FetchTest : public ProviderTest {};

TEST_F(FetchTest, DeliversTheServerBytesWithTheItemOfTheLookup) {
  std::string bytes;
  for (int i = 0; i < 3 * 256; ++i) bytes += static_cast<char>(i % 256);  // every byte value, NUL included
  tree.file("/docs/all bytes.bin", bytes, "\"v1\"");
  auto ext = extension();
  const std::string id = ext->state().id("/docs/all bytes.bin");

  Fetched fetched = fetch(*ext, id);
  ASSERT_FALSE(fetched.error) << fetched.error->what();
  ASSERT_TRUE(fetched.file);
  EXPECT_EQ(readFile(*fetched.file), bytes);
  EXPECT_EQ(env.temporaryFiles(), (Strings{*fetched.file}));  // the caller's to keep
  EXPECT_EQ(fetched.item->itemIdentifier(), id);
  EXPECT_EQ(fetched.item->itemVersion().contentVersion, "\"v1\"");
  EXPECT_EQ(fetched.item->documentSize(), static_cast<int64_t>(bytes.size()));
  EXPECT_EQ(exchanges(), (Strings{"PROPFIND /dav/docs/all%20bytes.bin 0", "GET /dav/docs/all%20bytes.bin"}));
}

TEST_F(FetchTest, FailuresDeliverTheConvertedErrorAndLeaveNoFile) {
  tree.file("/gone-meanwhile.txt", "g");
  tree.fail("/dav/gone-meanwhile.txt", {.status = 404});
  tree.file("/broken.txt", "b");
  tree.fail("/dav/broken.txt", {.status = 207, .body = multistatus({})});  // an empty answer to the lookup
  tree.file("/busy.txt", "busy");
  server.on("GET", "/dav/busy.txt", {.status = 503, .body = "try later"});
  tree.file("/secret.txt", "s");
  server.on("GET", "/dav/secret.txt", {.status = 403, .body = "no"});
  auto ext = extension();
  std::string forgotten = ext->state().id("/forgotten.txt");
  ext->state().forget("/forgotten.txt");

  struct Case {
    const char* name;
    platform::ItemIdentifier id;
    std::string_view domain;
    long code;
    std::vector<std::string> exchanges;
  } cases[] = {
      {"unknown identifier",
       "0F8C2D1E-9A3B-4C5D-8E7F-102030405060",
       platform::kFileProviderErrorDomain,
       platform::fp::kNoSuchItem,
       {}},
      {"forgotten path", forgotten, platform::kFileProviderErrorDomain, platform::fp::kNoSuchItem, {}},
      {"gone from the server",
       ext->state().id("/gone-meanwhile.txt"),
       platform::kFileProviderErrorDomain,
       platform::fp::kNoSuchItem,
       {"PROPFIND /dav/gone-meanwhile.txt 0"}},
      {"empty lookup",
       ext->state().id("/broken.txt"),
       platform::kFileProviderErrorDomain,
       platform::fp::kNoSuchItem,
       {"PROPFIND /dav/broken.txt 0"}},
      {"download fails",
       ext->state().id("/busy.txt"),
       platform::kFileProviderErrorDomain,
       platform::fp::kServerUnreachable,
       {"PROPFIND /dav/busy.txt 0", "GET /dav/busy.txt"}},
      {"download forbidden",
       ext->state().id("/secret.txt"),
       platform::kCocoaErrorDomain,
       platform::cocoa::kFileWriteNoPermission,
       {"PROPFIND /dav/secret.txt 0", "GET /dav/secret.txt"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    server.clearRequests();
    Fetched fetched = fetch(*ext, c.id);
    EXPECT_FALSE(fetched.file);
    EXPECT_FALSE(fetched.item);
    ASSERT_TRUE(fetched.error);
    EXPECT_TRUE(fetched.error->is(c.domain, c.code)) << fetched.error->what();
    EXPECT_EQ(exchanges(), c.exchanges);
    EXPECT_TRUE(env.temporaryFiles().empty());
  }
}

TEST_F(FetchTest, CancelledBeforeDeliveryGetsCancellationAndRemovesTheDownload) {
  tree.file("/a.txt", "contents");
  auto ext = extension();
  const std::string id = ext->state().id("/a.txt");

  // The download is complete when the item is built; hold the work there until the platform has cancelled.
  Signal downloaded, cancelled, removed;
  env.onTypeLookup = [&](std::string_view) {
    downloaded.notify();
    EXPECT_TRUE(cancelled.wait());
  };
  std::string removedFile;
  env.onRemove = [&](const std::string& path) {
    removedFile = path;
    removed.notify();
  };
  std::mutex mu;
  int calls = 0;
  std::optional<std::string> file;
  std::optional<platform::Error> error;
  auto progress = ext->fetchContents(
      id, platform::ItemVersion{"any", "version"}, {},
      [&](std::optional<std::string> f, platform::ItemRef, std::optional<platform::Error> e) {
        std::lock_guard guard(mu);
        ++calls;
        file = std::move(f);
        error = std::move(e);
      });
  ASSERT_TRUE(downloaded.wait());
  EXPECT_EQ(env.temporaryFiles().size(), 1u);
  progress->cancel();
  {
    std::lock_guard guard(mu);
    EXPECT_EQ(calls, 1);  // at once, on the cancelling thread
    EXPECT_FALSE(file);
    ASSERT_TRUE(error);
    EXPECT_TRUE(error->is(platform::kCocoaErrorDomain, platform::cocoa::kUserCancelled));
  }
  cancelled.notify();
  ASSERT_TRUE(removed.wait()) << "the download that nobody received is still there";
  EXPECT_TRUE(env.temporaryFiles().empty());
  EXPECT_EQ(removedFile.rfind(env.temporaryDirectory(), 0), 0u) << removedFile;
  std::lock_guard guard(mu);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(progress->completedUnitCount(), 1);
}

}  // namespace
}  // namespace davfp::testing
