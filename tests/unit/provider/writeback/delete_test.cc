// Deleting items and trees: DELETE requests deepest first, each folder listed again just before its own,
// the folders kept above what could not be deleted or appeared meanwhile, and nothing forgotten until all of
// it is gone.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <stop_token>

#include "platform/jobs.h"
#include "platform/server_path.h"
#include "provider/writeback/deletion.h"
#include "support/drive_test.h"

namespace davfp::testing {
namespace {

using platform::kCocoaErrorDomain;
using platform::kFileProviderErrorDomain;
using Reply = FakeServer::Reply;

// The requests that read /a before its members are deleted.
const Strings kReadA = {"PROPFIND 0 /dav/a", "PROPFIND 1 /dav/a/", "PROPFIND 1 /dav/a/b/"};
const std::string y = "/dav/a/b/y.txt", b = "/dav/a/b/", x = "/dav/a/x.txt", a = "/dav/a/";

// A file the given number of levels below the folder /deep: /deep/d/d/.../f.
std::string deepFile(int levels) {
  std::string path = "/deep";
  for (int i = 1; i < levels; ++i) path += "/d";
  return path + "/f";
}

TEST(WritebackDeleteTest, DeletesFilesFoldersAndTreesAndForgetsThem) {
  // clang-format off
  struct Case {
    const char* name;
    std::function<void(WritebackWorld&)> arrange;
    std::string path;                    // "?": an identifier never handed out
    std::optional<std::string> version;  // what the platform holds; none: the server's before arrange
    bool recursive;
    std::optional<Strings> requests;
  } cases[] = {
      {"a tree, deepest first", {}, "/a", "", true,
       concat(kReadA, {"DELETE " + y, "PROPFIND 1 " + b, "DELETE " + b, "DELETE " + x, "PROPFIND 1 " + a,
                       "DELETE " + a})},
      {"file never synced, changed since", [](WritebackWorld& w) { w.tree.file("/c.txt", "changed"); }, "/c.txt",
       platform::kBeforeFirstSyncComponent, false, Strings{"PROPFIND 0 /dav/c.txt", "DELETE /dav/c.txt"}},
      {"empty folder, not recursive", {}, "/e", "", false,
       Strings{"PROPFIND 0 /dav/e", "PROPFIND 1 /dav/e/", "PROPFIND 1 /dav/e/", "DELETE /dav/e/"}},
      {"a tree 64 levels deep", [](WritebackWorld& w) { w.tree.file(deepFile(64)); }, "/deep", "", true, {}},
      {"gone already", [](WritebackWorld& w) { w.tree.remove("/c.txt"); }, "/c.txt", "old", false,
       Strings{"PROPFIND 0 /dav/c.txt"}},
      {"never handed out", {}, "?", "", true, Strings{}},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WritebackWorld world;
    const std::string id = c.path == "?" ? "never-handed-out" : world.drive.id(c.path);
    const std::string held = c.version ? *c.version : world.tree.etag(c.path);
    if (c.arrange) c.arrange(world);
    world.tree.sent();

    auto error = world.drive.remove(id, held, c.recursive);

    ASSERT_FALSE(error) << error->what();
    if (c.requests) {
      EXPECT_EQ(world.tree.sent(), *c.requests);
    }
    if (c.path == "?") continue;
    EXPECT_EQ(world.pathsUnder(c.path), Strings{});
    EXPECT_EQ(world.drive.state().path(id), std::nullopt);
    for (const auto& [folder, snapshot] : world.drive.state().knownFolders()) {
      EXPECT_FALSE(platform::isUnder(folder, c.path) || snapshot.contains(c.path)) << folder;
    }
    world.expectQuiet();
  }
}

TEST(WritebackDeleteTest, KeepsTheFoldersAboveWhatCouldNotBeDeletedOrAppearedMeanwhile) {
  // The server changes just before it answers the first request sent as `when` once deleting has begun.
  auto changeAt = [](std::string when, std::function<void(ServedTree&)> change) {
    return [when, change](WritebackWorld& w) {
      auto deleting = std::make_shared<bool>(false);
      w.tree.beforeEach([&tree = w.tree, when, change, deleting](const FakeServer::Received& r) {
        if (r.method == "DELETE") *deleting = true;
        if (*deleting && r.method + " " + r.target == when) {
          change(tree);
          tree.beforeEach(nullptr);  // once
        }
      });
    };
  };
  auto answer = [](std::string method, std::string target, Reply reply) {
    return [=](WritebackWorld& w) { w.server.on(method, target, reply); };
  };
  const std::pair<std::string_view, long> notEmpty{kFileProviderErrorDomain, -1007};
  // clang-format off
  struct Case {
    const char* name;
    std::function<void(WritebackWorld&)> arrange;
    Strings deletes;  // the DELETE requests sent, in order; one sent again after a lost connection counted once
    std::optional<std::pair<std::string_view, long>> error;
    Strings left;     // what stays on the server under /a
  } cases[] = {
      {"member forbidden", answer("DELETE", y, {.status = 403}), {y, x}, notEmpty, {"/a", "/a/b", "/a/b/y.txt"}},
      {"member locked", answer("DELETE", x, {.status = 423}), {y, b, x}, notEmpty, {"/a", "/a/x.txt"}},
      {"member folder answered 207", answer("DELETE", b, {.status = 207}), {y, b, x}, notEmpty, {"/a", "/a/b"}},
      {"top locked", answer("DELETE", a, {.status = 423}), {y, b, x, a}, {{kCocoaErrorDomain, 512}}, {"/a"}},
      {"top answered 207", answer("DELETE", a, {.status = 207}), {y, b, x, a}, notEmpty, {"/a"}},
      {"top forbidden", answer("DELETE", a, {.status = 403}), {y, b, x, a}, {{kFileProviderErrorDomain, -1006}},
       {"/a"}},
      {"connection lost for good", answer("DELETE", x, {.dropAfterBytes = 0}), {y, b, x},
       {{kFileProviderErrorDomain, -1004}}, {"/a", "/a/x.txt"}},
      {"a file created in a member folder", changeAt("DELETE " + y, [](ServedTree& t) { t.file("/a/b/new.txt"); }),
       {y, x}, notEmpty, {"/a", "/a/b", "/a/b/new.txt"}},
      {"a file created in the top folder", changeAt("DELETE " + x, [](ServedTree& t) { t.file("/a/new.txt"); }),
       {y, b, x}, notEmpty, {"/a", "/a/new.txt"}},
      {"a deleted file created again", changeAt("PROPFIND " + b, [](ServedTree& t) { t.file("/a/b/y.txt", "2"); }),
       {y, x}, notEmpty, {"/a", "/a/b", "/a/b/y.txt"}},
      {"a member gone before its DELETE", changeAt("DELETE " + y, [](ServedTree& t) { t.remove("/a/b/y.txt"); }),
       {y, b, x, a}, {}, {}},
      // The server says it has nothing there, and its folder's listing shows it all the same.
      {"a member answered 404 and still listed", answer("DELETE", y, {.status = 404}), {y, x}, notEmpty,
       {"/a", "/a/b", "/a/b/y.txt"}},
      {"a listing that still shows what was deleted, unchanged", [](WritebackWorld& w) {
         w.server.on("PROPFIND", b, {.status = 207, .body = multistatus({{b, true}, {y, false, 1, w.tree.etag("/a/b/y.txt")}})});
       }, {y, b, x, a}, {}, {}},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WritebackWorld world;
    const std::string id = world.drive.id("/a"), before = world.stateFile();
    c.arrange(world);

    auto error = world.drive.remove(id, "", true);

    if (c.error) {
      expectError(error, c.error->first, c.error->second);
      EXPECT_EQ(world.stateFile(), before);  // nothing forgotten, also not what is gone already
    } else {
      EXPECT_FALSE(error) << error->what();
      EXPECT_EQ(world.drive.state().path(id), std::nullopt);
    }
    Strings deletes = world.sent("DELETE");
    deletes.erase(std::unique(deletes.begin(), deletes.end()), deletes.end());
    EXPECT_EQ(deletes, c.deletes);
    EXPECT_EQ(world.pathsUnder("/a"), c.left);
  }
}

TEST(WritebackDeleteTest, StopsBeforeTheNextMemberWhenCancelled) {
  WritebackWorld world;
  std::stop_source stop;
  world.tree.beforeEach([&stop](const FakeServer::Received& r) {
    if (r.method == "DELETE") stop.request_stop();
  });
  const std::string id = world.drive.id("/a"), before = world.stateFile();
  davfp::Deletion deletion(world.drive.dav(), world.drive.state(), world.drive.lookup());
  platform::runWithStopToken(stop.get_token(),
                             [&] { EXPECT_THROW(deletion.remove(id, "", true), platform::Cancelled); });
  EXPECT_EQ(world.tree.sent(), concat(kReadA, {"DELETE " + y}));
  EXPECT_EQ(world.stateFile(), before);
}

}  // namespace
}  // namespace davfp::testing
