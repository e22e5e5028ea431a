// Deleting items and trees: the order of the DELETE requests, the refusals of what changed on the server or
// could not be listed whole, the folders kept above what could not be deleted or appeared meanwhile, and the
// state left untouched by every failure.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <stop_token>

#include "platform/jobs.h"
#include "provider/writeback/deletion.h"
#include "support/drive_test.h"

namespace davfp::testing {
namespace {

using platform::kCocoaErrorDomain;
using platform::kFileProviderErrorDomain;
using Strings = std::vector<std::string>;
using Reply = FakeServer::Reply;

// The requests that read /a before its members are deleted.
const Strings kReadA = {"PROPFIND 0 /dav/a", "PROPFIND 1 /dav/a/", "PROPFIND 1 /dav/a/b/"};

Strings concat(Strings a, const Strings& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// A file the given number of levels below the folder /deep: /deep/d/d/.../f.
std::string deepFile(int levels) {
  std::string path = "/deep";
  for (int i = 1; i < levels; ++i) path += "/d";
  return path + "/f";
}

// A drive holding /a/x.txt, /a/b/y.txt and /c.txt, every folder enumerated.
struct DeleteWorld : DriveWorld {
  DeleteWorld() {
    tree.folder("/a");
    tree.file("/a/x.txt", "x");
    tree.folder("/a/b");
    tree.file("/a/b/y.txt", "y");
    tree.file("/c.txt", "c");
    tree.folder("/e");
    drive.list(platform::kRootContainerItemIdentifier);
    for (const char* folder : {"/a", "/a/b", "/e"}) drive.list(drive.id(folder));
    tree.sent();
  }
  std::optional<platform::Error> removeTree(const std::string& path) {
    return drive.remove(drive.id(path), "", true);
  }
  std::optional<platform::Error> removeFile(const std::string& path) {
    return drive.remove(drive.id(path), tree.etag(path), false);
  }
};

TEST(WritebackDeleteTest, DeletesATreeDeepestFirstAndThenForgetsIt) {
  DeleteWorld world;
  const std::string a = world.drive.id("/a"), y = world.drive.id("/a/b/y.txt");
  auto error = world.removeTree("/a");
  ASSERT_FALSE(error) << error->what();
  // Each folder is listed again just before its own DELETE.
  EXPECT_EQ(world.tree.sent(),
            concat(kReadA, {"DELETE /dav/a/b/y.txt", "PROPFIND 1 /dav/a/b/", "DELETE /dav/a/b/",
                            "DELETE /dav/a/x.txt", "PROPFIND 1 /dav/a/", "DELETE /dav/a/"}));
  EXPECT_EQ(world.tree.paths(), (Strings{"/c.txt", "/e"}));
  EXPECT_EQ(world.drive.state().path(a), std::nullopt);
  EXPECT_EQ(world.drive.state().path(y), std::nullopt);
  auto known = world.drive.state().knownFolders();
  EXPECT_FALSE(known.contains("/a") || known.contains("/a/b") || known.at("/").contains("/a"));

  world.expectQuiet();
}

// One deletion as the platform asks for it, after the server changed as arrange says. The platform holds the
// given content version, or when none is given, the version the server had before.
struct Deletion {
  std::function<void(DeleteWorld&)> arrange;
  std::string path;
  std::optional<std::string> version;
  bool recursive;

  std::optional<platform::Error> run(DeleteWorld& world) const {
    const std::string id = world.drive.id(path), held = version ? *version : world.tree.etag(path);
    if (arrange) arrange(world);
    return world.drive.remove(id, held, recursive);
  }
};

TEST(WritebackDeleteTest, DeletesFilesAndEmptyFolders) {
  // clang-format off
  struct Case {
    const char* name;
    Deletion deletion;
    Strings requests;
  } cases[] = {
      {"file at its version", {{}, "/c.txt", {}, false}, {"PROPFIND 0 /dav/c.txt", "DELETE /dav/c.txt"}},
      {"file never synced, changed since",
       {[](DeleteWorld& w) { w.tree.file("/c.txt", "changed"); }, "/c.txt", platform::kBeforeFirstSyncComponent, false},
       {"PROPFIND 0 /dav/c.txt", "DELETE /dav/c.txt"}},
      {"empty folder, not recursive", {{}, "/e", "", false},
       {"PROPFIND 0 /dav/e", "PROPFIND 1 /dav/e/", "PROPFIND 1 /dav/e/", "DELETE /dav/e/"}},
      {"file in a folder that was never listed", {[](DeleteWorld& w) { w.tree.file("/n/new.txt"); }, "/n", "", true},
       {"PROPFIND 0 /dav/n", "PROPFIND 1 /dav/n/", "DELETE /dav/n/new.txt", "PROPFIND 1 /dav/n/", "DELETE /dav/n/"}},
      {"a tree 64 levels deep", {[](DeleteWorld& w) { w.tree.file(deepFile(64)); }, "/deep", "", true}, {}},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    DeleteWorld world;
    const std::string id = world.drive.id(c.deletion.path);
    auto error = c.deletion.run(world);
    ASSERT_FALSE(error) << error->what();
    if (!c.requests.empty()) {
      EXPECT_EQ(world.tree.sent(), c.requests);
    }
    EXPECT_FALSE(world.tree.has(c.deletion.path));
    EXPECT_EQ(world.drive.state().path(id), std::nullopt);
  }
}

TEST(WritebackDeleteTest, RefusesWhatChangedOnTheServerAndSendsNoDelete) {
  auto refuse = [](int status) {
    return [status](DeleteWorld& w) { w.server.on("PROPFIND", "/dav/c.txt", Reply{.status = status}); };
  };
  // clang-format off
  struct Case {
    const char* name;
    Deletion deletion;
    long code;  // file provider error
    Strings requests;
  } cases[] = {
      {"file changed since the platform read it",
       {[](DeleteWorld& w) { w.tree.file("/c.txt", "changed"); }, "/c.txt", {}, false}, -1006, {"PROPFIND 0 /dav/c.txt"}},
      {"folder with members, not recursive", {{}, "/a", "", false}, -1007, kReadA},
      {"new file in a listed folder", {[](DeleteWorld& w) { w.tree.file("/a/z.txt"); }, "/a", "", true}, -1006, kReadA},
      {"changed file deep down", {[](DeleteWorld& w) { w.tree.file("/a/b/y.txt", "changed"); }, "/a", "", true}, -1006,
       kReadA},
      {"new folder with a file in a listed folder", {[](DeleteWorld& w) { w.tree.file("/a/new/f.txt"); }, "/a", "", true},
       -1006, concat(kReadA, {"PROPFIND 1 /dav/a/new/"})},
      {"the root", {{}, "/", "", true}, -1006, {}},
      {"reading the entry forbidden", {refuse(403), "/c.txt", {}, false}, -1006, {"PROPFIND 0 /dav/c.txt"}},
      {"reading the entry fails", {refuse(500), "/c.txt", {}, false}, -1004, {"PROPFIND 0 /dav/c.txt"}},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    DeleteWorld world;
    world.drive.id("/c.txt");
    const std::string before = world.stateFile();
    const auto paths = world.tree.paths();
    expectError(c.deletion.run(world), kFileProviderErrorDomain, c.code);
    EXPECT_EQ(world.tree.sent(), c.requests);
    EXPECT_EQ(world.stateFile(), before);
    EXPECT_GE(world.tree.paths().size(), paths.size());
  }
}

TEST(WritebackDeleteTest, SucceedsWithoutAskingForWhatIsUnknownOrGone) {
  DeleteWorld world;
  EXPECT_FALSE(world.drive.remove("never-handed-out", "", true));
  EXPECT_EQ(world.tree.sent(), Strings{});

  const std::string id = world.drive.id("/c.txt");
  world.tree.remove("/c.txt");
  EXPECT_FALSE(world.drive.remove(id, "old", false));
  EXPECT_EQ(world.tree.sent(), Strings{"PROPFIND 0 /dav/c.txt"});
  EXPECT_EQ(world.drive.state().path(id), std::nullopt);
  EXPECT_FALSE(world.drive.state().knownFolders().at("/").contains("/c.txt"));
}

TEST(WritebackDeleteTest, KeepsTheFoldersAboveWhatCouldNotBeDeleted) {
  const std::string y = "/dav/a/b/y.txt", b = "/dav/a/b/", x = "/dav/a/x.txt", a = "/dav/a/";
  // clang-format off
  struct Case {
    const char* name;
    std::string target;  // the request answered with reply
    Reply reply;
    Strings deletes;  // the DELETE requests sent, in order; a request repeated after a lost connection once
    std::optional<std::pair<std::string_view, long>> error;
    Strings left;  // what stays on the server under /a
  } cases[] = {
      {"member forbidden", y, {.status = 403}, {y, x}, {{kFileProviderErrorDomain, -1007}},
       {"/a", "/a/b", "/a/b/y.txt"}},
      {"member locked", x, {.status = 423}, {y, b, x}, {{kFileProviderErrorDomain, -1007}},
       {"/a", "/a/x.txt"}},
      {"member folder answered 207", b, {.status = 207}, {y, b, x}, {{kFileProviderErrorDomain, -1007}},
       {"/a", "/a/b"}},
      {"top locked", a, {.status = 423}, {y, b, x, a}, {{kCocoaErrorDomain, 512}}, {"/a"}},
      {"top answered 207", a, {.status = 207}, {y, b, x, a}, {{kFileProviderErrorDomain, -1007}}, {"/a"}},
      {"top forbidden", a, {.status = 403}, {y, b, x, a}, {{kFileProviderErrorDomain, -1006}}, {"/a"}},
      {"connection lost for good", x, {.dropAfterBytes = 0}, {y, b, x}, {{kFileProviderErrorDomain, -1004}},
       {"/a", "/a/x.txt"}},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    DeleteWorld world;
    world.server.on("DELETE", c.target, c.reply);
    const std::string before = world.stateFile();
    const std::string id = world.drive.id("/a");

    auto error = world.removeTree("/a");

    if (c.error) {
      expectError(error, c.error->first, c.error->second);
      // Nothing is forgotten until all of it is gone, also what is gone already.
      EXPECT_EQ(world.stateFile(), before);
    } else {
      EXPECT_FALSE(error) << error->what();
      EXPECT_EQ(world.drive.state().path(id), std::nullopt);
    }
    Strings deletes;
    for (auto& line : world.tree.sent()) {
      if (line.rfind("DELETE ", 0) != 0) continue;
      if (deletes.empty() || deletes.back() != line.substr(7)) deletes.push_back(line.substr(7));
    }
    EXPECT_EQ(deletes, c.deletes);
    Strings left;
    for (auto& path : world.tree.paths()) {
      if (path.rfind("/a", 0) == 0) left.push_back(path);
    }
    EXPECT_EQ(left, c.left);
  }
}

TEST(WritebackDeleteTest, DeletesNothingUnlessTheWholeTreeWasListed) {
  // clang-format off
  struct Case {
    const char* name;
    std::function<void(DeleteWorld&)> arrange;
    long code;  // file provider error
  } cases[] = {
      // A server that follows symbolic links shows a link to a folder above as a folder, and answers 404 when
      // the walk has gone round the loop as often as it allows; what lies beside the loop is no member.
      {"a folder below answers 404",
       [](DeleteWorld& w) {
         w.tree.file("/deep/up/keep/important.txt", "k");
         w.tree.folder("/deep/up/deep/up/deep/up");
         w.tree.fail("/dav/deep/up/deep/up/deep/up/", {.status = 404});
       }, -1006},
      {"a folder below fails", [](DeleteWorld& w) {
         w.tree.file("/deep/up/keep/important.txt", "k");
         w.tree.fail("/dav/deep/up/keep/", {.status = 503});
       }, -1004},
      {"deeper than 64 levels", [](DeleteWorld& w) { w.tree.file(deepFile(65)); }, -1006},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    DeleteWorld world;
    const std::string id = world.drive.id("/deep");
    c.arrange(world);
    const auto paths = world.tree.paths();
    const std::string before = world.stateFile();

    expectError(world.drive.remove(id, "", true), kFileProviderErrorDomain, c.code);

    for (const auto& line : world.tree.sent()) EXPECT_FALSE(line.starts_with("DELETE")) << line;
    EXPECT_EQ(world.tree.paths(), paths);
    EXPECT_EQ(world.stateFile(), before);
  }
}

TEST(WritebackDeleteTest, DeletesAFolderOnlyWhenItsListingShowsNothingElse) {
  const std::string y = "/dav/a/b/y.txt", b = "/dav/a/b/", x = "/dav/a/x.txt";
  // The server changes just before it answers the first request sent as `when` once deleting has begun.
  auto changeAt = [](std::string when, std::function<void(ServedTree&)> change) {
    return [when, change](DeleteWorld& w) {
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
  // clang-format off
  struct Case {
    const char* name;
    std::function<void(DeleteWorld&)> arrange;
    Strings deletes;  // the DELETE requests sent, in order
    bool kept;        // the request fails with directoryNotEmpty
    Strings left;     // what stays on the server under /a
  } cases[] = {
      {"a file created in a member folder", changeAt("DELETE " + y, [](ServedTree& t) { t.file("/a/b/new.txt"); }),
       {y, x}, true, {"/a", "/a/b", "/a/b/new.txt"}},
      {"a file created in the top folder", changeAt("DELETE " + x, [](ServedTree& t) { t.file("/a/new.txt"); }),
       {y, b, x}, true, {"/a", "/a/new.txt"}},
      {"a deleted file created again", changeAt("PROPFIND " + b, [](ServedTree& t) { t.file("/a/b/y.txt", "2"); }),
       {y, x}, true, {"/a", "/a/b", "/a/b/y.txt"}},
      {"a member gone before its DELETE", changeAt("DELETE " + y, [](ServedTree& t) { t.remove("/a/b/y.txt"); }),
       {y, b, x, "/dav/a/"}, false, {}},
      // The server says it has nothing there, and its folder's listing shows it all the same.
      {"a member answered 404 and still listed", [y](DeleteWorld& w) { w.server.on("DELETE", y, {.status = 404}); },
       {y, x}, true, {"/a", "/a/b", "/a/b/y.txt"}},
      {"a listing that still shows what was deleted, unchanged",
       [b](DeleteWorld& w) {
         w.server.on("PROPFIND", b, {.status = 207, .body = multistatus({{b, true}, {"/dav/a/b/y.txt", false, 1,
                                                                                  w.tree.etag("/a/b/y.txt")}})});
       }, {y, b, x, "/dav/a/"}, false, {}},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    DeleteWorld world;
    const std::string id = world.drive.id("/a");
    const std::string before = world.stateFile();
    c.arrange(world);

    auto error = world.removeTree("/a");

    if (c.kept) {
      expectError(error, kFileProviderErrorDomain, -1007);
      EXPECT_EQ(world.stateFile(), before);
    } else {
      EXPECT_FALSE(error) << error->what();
      EXPECT_EQ(world.drive.state().path(id), std::nullopt);
    }
    Strings deletes, left;
    for (auto& line : world.tree.sent()) {
      if (line.starts_with("DELETE ")) deletes.push_back(line.substr(7));
    }
    EXPECT_EQ(deletes, c.deletes);
    for (auto& path : world.tree.paths()) {
      if (path.starts_with("/a")) left.push_back(path);
    }
    EXPECT_EQ(left, c.left);
  }
}

TEST(WritebackDeleteTest, ComparesVersionsWeakly) {
  // Apache reports a weak entity tag for a moment after a write and the strong one afterwards.
  for (bool tree : {false, true}) {
    SCOPED_TRACE(tree ? "the folder holding the file" : "the file");
    DeleteWorld world;
    world.tree.file("/a/w.txt", "w", "W/\"w1\"");
    world.drive.list(world.drive.id("/a"));
    world.tree.file("/a/w.txt", "w", "\"w1\"");
    auto error =
        tree ? world.removeTree("/a") : world.drive.remove(world.drive.id("/a/w.txt"), "W/\"w1\"", false);
    EXPECT_FALSE(error) << error->what();
    EXPECT_FALSE(world.tree.has("/a/w.txt"));
  }
}

TEST(WritebackDeleteTest, StopsBeforeTheNextMemberWhenCancelled) {
  DeleteWorld world;
  std::stop_source stop;
  world.tree.beforeEach([&stop](const FakeServer::Received& r) {
    if (r.method == "DELETE") stop.request_stop();
  });
  const std::string id = world.drive.id("/a");
  const std::string before = world.stateFile();

  davfp::Deletion deletion(world.drive.dav(), world.drive.state(), world.drive.lookup());
  platform::runWithStopToken(stop.get_token(),
                             [&] { EXPECT_THROW(deletion.remove(id, "", true), platform::Cancelled); });

  EXPECT_EQ(world.tree.sent(), concat(kReadA, {"DELETE /dav/a/b/y.txt"}));
  EXPECT_EQ(world.stateFile(), before);
  EXPECT_EQ(world.drive.state().path(id), "/a");
}

}  // namespace
}  // namespace davfp::testing
