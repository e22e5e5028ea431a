// The extension against real WebDAV servers: browsing, fetching, and following changes made on the server's
// disk behind its back.
#include "provider/extension.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <condition_variable>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>

#include "support/real_server.h"
#include "support/recording_observer.h"
#include "support/temp_dir.h"

namespace davfp::testing {

namespace {

namespace fs = std::filesystem;

constexpr const char* kDomain = "integration";

// Shared container, data and temporary directories in a private directory; no host application to start.
class IntegrationEnv : public platform::EnvWrapper {
 public:
  IntegrationEnv() : EnvWrapper(platform::Env::standard()) {
    fs::create_directories(dir.file("group"));
    fs::create_directories(dir.file("tmp"));
  }
  void publish(const std::string& url) {
    writeFile(dir.file("group/drives.json"),
              std::string("{\"") + kDomain + "\": {\"name\": \"Drive\", \"url\": \"" + url + "\"}}");
  }
  std::optional<std::string> groupContainer(std::string_view) override { return dir.file("group"); }
  std::optional<std::string> applicationDataDirectory(std::string_view id) override {
    return dir.file("data/" + std::string(id));
  }
  std::string temporaryDirectory() override { return dir.file("tmp"); }
  std::optional<std::string> applicationLocation(std::string_view) override { return std::nullopt; }

  TempDir dir;
};

class ExtensionServersTest : public ::testing::TestWithParam<ServerKind> {
 protected:
  void SetUp() override {
    // A server that drops root must reach its folder: TempDir is private (0700) by default.
    ASSERT_EQ(::chmod(tmp_.path().c_str(), 0755), 0);
    fs::create_directory(root_);
  }

  std::shared_ptr<RecordingObserver> enumerate(const platform::ItemIdentifier& container) {
    auto rec = RecordingObserver::make();
    ext_->enumerator(container, {})->enumerateItems(rec->handle(), platform::kInitialPageSortedByName);
    rec->wait();
    return rec;
  }
  std::shared_ptr<RecordingObserver> changes() {
    auto rec = RecordingObserver::make();
    ext_->enumerator(platform::kWorkingSetContainerItemIdentifier, {})->enumerateChanges(rec->handle(), "1");
    rec->wait();
    return rec;
  }
  // Enumerates the folder and returns its children by name.
  std::map<std::string, platform::ItemRef> children(const platform::ItemIdentifier& folder) {
    auto rec = enumerate(folder);
    EXPECT_EQ(rec->calls(), (std::vector<std::string>{"items", "finishPage"}));
    if (rec->error()) ADD_FAILURE() << rec->error()->what();
    std::map<std::string, platform::ItemRef> out;
    for (const auto& item : rec->items()) out[item->filename()] = item;
    return out;
  }

  std::pair<std::optional<std::string>, std::optional<platform::Error>> fetch(
      const platform::ItemIdentifier& id) {
    std::mutex mu;
    std::condition_variable cv;
    bool done = false;
    std::optional<std::string> file;
    std::optional<platform::Error> error;
    ext_->fetchContents(
        id, std::nullopt, {},
        [&](std::optional<std::string> f, platform::ItemRef, std::optional<platform::Error> e) {
          std::lock_guard guard(mu);
          file = std::move(f);
          error = std::move(e);
          done = true;
          cv.notify_all();
        });
    std::unique_lock lock(mu);
    EXPECT_TRUE(cv.wait_for(lock, std::chrono::seconds(60), [&] { return done; })) << "no completion";
    return {file, error};
  }

  // Writes a file into the served folder behind the server's back.
  void place(const std::string& relative, const std::string& bytes) {
    fs::create_directories(fs::path(root_ + "/" + relative).parent_path());
    writeFile(root_ + "/" + relative, bytes);
  }

  TempDir tmp_;
  const std::string root_ = tmp_.file("root");
  IntegrationEnv env_;
  std::shared_ptr<FileProviderExtension> ext_;
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
  env_.publish(server->baseUrl());

  DavTimings timings;
  timings.polls = 0;  // no host application to wait for
  ext_ = FileProviderExtension::create({kDomain, "Drive"}, env_, timings);

  // Browse: the root, a subfolder, and the folders of the tree that will be deleted.
  auto top = children(platform::kRootContainerItemIdentifier);
  ASSERT_EQ(top.size(), 3u);
  ASSERT_TRUE(top.count("hello.bin") && top.count("docs") && top.count("gone"));
  EXPECT_EQ(top["hello.bin"]->documentSize(), static_cast<int64_t>(bytes.size()));
  EXPECT_EQ(top["docs"]->contentType(), "inode/directory");
  EXPECT_EQ(top["hello.bin"]->parentItemIdentifier(), platform::kRootContainerItemIdentifier);
  auto docs = children(top["docs"]->itemIdentifier());
  ASSERT_EQ(docs.size(), 3u);
  ASSERT_TRUE(docs.count("report.txt") && docs.count("old.txt") && docs.count("keep.txt"));
  EXPECT_EQ(docs["report.txt"]->parentItemIdentifier(), top["docs"]->itemIdentifier());
  EXPECT_EQ(docs["report.txt"]->contentType(), "text/plain");
  auto gone = children(top["gone"]->itemIdentifier());
  ASSERT_TRUE(gone.count("sub"));
  EXPECT_EQ(children(gone["sub"]->itemIdentifier()).size(), 1u);

  // Fetch: the server's bytes.
  auto [file, error] = fetch(top["hello.bin"]->itemIdentifier());
  ASSERT_FALSE(error) << error->what();
  ASSERT_TRUE(file);
  EXPECT_EQ(readFile(*file), bytes);
  fs::remove(*file);

  // Nothing changed yet (a server may call a fresh entity tag weak first and strong later: no change).
  auto quiet = changes();
  EXPECT_EQ(quiet->calls(), (std::vector<std::string>{"finishChanges"}));

  // Change the tree behind the server's back: add, modify, delete a file, delete a folder with a subfolder.
  place("docs/new.txt", "a new file");
  place("docs/report.txt", "second, longer version");
  auto later = fs::last_write_time(root_ + "/docs/report.txt") + std::chrono::seconds(10);
  fs::last_write_time(root_ + "/docs/report.txt", later);
  fs::remove(root_ + "/docs/old.txt");
  fs::remove_all(root_ + "/gone");
  server->adopt(root_);

  auto pass = changes();
  ASSERT_FALSE(pass->error()) << pass->error()->what();
  std::set<std::string> updated;
  for (const auto& item : pass->updated()) {
    updated.insert(item->filename());
    // The folders whose own version changed with their contents may come along; nothing else.
    if (item->filename() == "docs") {
      EXPECT_EQ(item->itemIdentifier(), top["docs"]->itemIdentifier());
    }
  }
  updated.erase("docs");
  EXPECT_EQ(updated, (std::set<std::string>{"new.txt", "report.txt"}));
  for (const auto& item : pass->updated()) {
    if (item->filename() == "report.txt") {
      EXPECT_EQ(item->itemIdentifier(), docs["report.txt"]->itemIdentifier());
      EXPECT_NE(item->itemVersion().contentVersion, docs["report.txt"]->itemVersion().contentVersion);
      EXPECT_EQ(item->documentSize(), 22);
    }
  }
  auto deleted = pass->deleted();
  std::sort(deleted.begin(), deleted.end());
  std::vector<std::string> expected = {docs["old.txt"]->itemIdentifier(), top["gone"]->itemIdentifier()};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(deleted, expected);
  ASSERT_TRUE(pass->anchor());
  EXPECT_EQ(*pass->anchor(), ext_->anchor());

  // Reported once: the next pass finds nothing.
  auto after = changes();
  EXPECT_EQ(after->calls(), (std::vector<std::string>{"finishChanges"}));
  EXPECT_EQ(after->anchor(), pass->anchor());
}

std::string kindName(const ::testing::TestParamInfo<ServerKind>& param) { return serverName(param.param); }

INSTANTIATE_TEST_SUITE_P(Servers, ExtensionServersTest, ::testing::ValuesIn(allServerKinds()), kindName);

}  // namespace
}  // namespace davfp::testing
