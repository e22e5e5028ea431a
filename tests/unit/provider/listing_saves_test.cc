// How often listing a folder writes the state file: the snapshot and every identifier its items need go into
// one save, and listing a folder that has not changed writes nothing.
#include <gtest/gtest.h>

#include <filesystem>

#include "client/platform_client.h"
#include "provider/extension.h"
#include "state/state_file.h"
#include "support/fake_server.h"
#include "unit/state/state_file_check.h"

namespace davfp {
namespace {

using testing::FakeServer;

std::vector<platform::ItemRef> enumerate(FileProviderExtension& ext,
                                         const platform::ItemIdentifier& container) {
  return client::PlatformClient(ext.shared_from_this()).enumerate(container);
}

std::string listing(const std::string& secondEtag) {
  auto file = [](const std::string& href, const std::string& etag) {
    return "<D:response><D:href>" + href +
           "</D:href><D:propstat><D:prop><D:resourcetype/>"
           "<D:getcontentlength>3</D:getcontentlength><D:getetag>" +
           etag + "</D:getetag></D:prop></D:propstat></D:response>";
  };
  return "<?xml version=\"1.0\"?><D:multistatus xmlns:D=\"DAV:\">"
         "<D:response><D:href>/dav/</D:href><D:propstat><D:prop><D:resourcetype><D:collection/>"
         "</D:resourcetype></D:prop></D:propstat></D:response>" +
         file("/dav/a.txt", "\"a1\"") + file("/dav/b.txt", secondEtag) +
         "<D:response><D:href>/dav/sub/</D:href><D:propstat><D:prop><D:resourcetype><D:collection/>"
         "</D:resourcetype></D:prop></D:propstat></D:response></D:multistatus>";
}

TEST(ListingSavesTest, AFolderListingSavesOnceAndAnUnchangedOneNotAtAll) {
  testing::TestEnv env;
  FakeServer server;
  std::filesystem::create_directories(env.groupPath());
  testing::writeFile(env.groupPath() + "/drives.json",
                     R"({"d":{"name":"Drive","url":")" + server.url("/dav/") + R"("}})");
  FakeServer::Reply first{.status = 207, .body = listing("\"b1\"")};
  FakeServer::Reply changed{.status = 207, .body = listing("\"b2\"")};
  server.on("PROPFIND", "/dav/", first);
  server.on("PROPFIND", "/dav/", first);
  server.on("PROPFIND", "/dav/", changed);
  auto ext = FileProviderExtension::create({"d", "Drive"}, env);

  auto items = enumerate(*ext, platform::kRootContainerItemIdentifier);
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(env.writes, 1);
  // What was saved is what the platform was told: every item's identifier, and the folder's snapshot.
  auto disk = decodeState(testing::readFile(env.statePath() + "/" + stateFileName("d")));
  ASSERT_TRUE(disk);
  for (const auto& item : items) {
    SCOPED_TRACE(item->filename());
    EXPECT_EQ(item->parentItemIdentifier(), platform::kRootContainerItemIdentifier);
    EXPECT_EQ(disk->ids[item->itemIdentifier()], "/" + item->filename());
  }
  EXPECT_EQ(disk->listed["/"].size(), 3u);

  auto again = enumerate(*ext, platform::kRootContainerItemIdentifier);
  ASSERT_EQ(again.size(), 3u);
  EXPECT_EQ(again[1]->itemIdentifier(), items[1]->itemIdentifier());
  EXPECT_EQ(env.writes, 1);  // the same snapshot, no new identifier: nothing to write

  auto later = enumerate(*ext, platform::kRootContainerItemIdentifier);
  ASSERT_EQ(later.size(), 3u);
  EXPECT_EQ(later[1]->itemVersion().contentVersion, "\"b2\"");
  EXPECT_EQ(env.writes, 2);  // a new version in the snapshot: one save
  disk = decodeState(testing::readFile(env.statePath() + "/" + stateFileName("d")));
  ASSERT_TRUE(disk);
  EXPECT_EQ(disk->listed["/"]["/b.txt"], "\"b2\"");
}

}  // namespace
}  // namespace davfp
