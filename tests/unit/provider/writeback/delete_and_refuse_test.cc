// Deleting items and trees: DELETE requests deepest first, each folder listed again just before its own,
// the folders kept above what could not be deleted or appeared meanwhile, and nothing forgotten until all of
// it is gone. And write-back requests that fail: each gets its error, sends only what it must, deletes
// nothing, and leaves the state file byte for byte as it was.
#include <gtest/gtest.h>

#include <functional>
#include <map>
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
using namespace platform::field;
using MaybeError = std::optional<platform::Error>;
using Arrange = std::function<void(WritebackWorld&)>;
// A request about the item at the case's path: its identifier, and the server's version of it before arrange.
using Request = std::function<MaybeError(WritebackWorld&, const std::string& id, const std::string& version)>;

// The requests that read /a before its members are deleted.
const Strings kReadA = {"PROPFIND 0 /dav/a", "PROPFIND 1 /dav/a/", "PROPFIND 1 /dav/a/b/"};
const std::string y = "/dav/a/b/y.txt", b = "/dav/a/b/", x = "/dav/a/x.txt", a = "/dav/a/";

// A file the given number of levels below the folder /deep: /deep/d/d/.../f.
std::string deepFile(int levels) {
  std::string path = "/deep";
  for (int i = 1; i < levels; ++i) path += "/d";
  return path + "/f";
}

const std::string kA = "/dav/docs/a.txt";

Request creating(TemplateItem item) {
  return [item](WritebackWorld& w, const std::string& parent, const std::string&) mutable {
    if (item.parent.empty()) item.parent = parent;
    return w.drive.create(item, w.drive.contents("bytes")).error;
  };
}
// The item at the case's path after the change; a parent "?" or item "?" is one the state never named.
Request modifying(std::string parent, std::string name, platform::ItemFields changed, bool knownItem = true) {
  return [=](WritebackWorld& w, const std::string& id, const std::string&) {
    auto item = TemplateItem::file(name, parent == "?" ? "forgotten-id" : w.drive.id(parent),
                                   knownItem ? id : "forgotten-id");
    return w.drive.modify(item, changed, w.drive.contents("new")).error;
  };
}
Request deleting(bool recursive) {
  return [=](WritebackWorld& w, const std::string& id, const std::string& version) {
    return w.drive.remove(id, recursive ? "" : version, recursive);
  };
}
Arrange answer(std::string method, std::string target, FakeServer::Reply reply) {
  return [=](WritebackWorld& w) { w.server.on(method, target, reply); };
}
Arrange removed(std::string path) {
  return [=](WritebackWorld& w) { w.tree.remove(path); };
}
Arrange change(std::string path, std::string body = "changed") {
  return [=](WritebackWorld& w) { w.tree.file(path, body); };
}

const FakeServer::Reply kMoveRefused{
    .status = 207,
    .body =
        "<?xml version=\"1.0\" encoding=\"utf-8\"?><D:multistatus xmlns:D=\"DAV:\"><D:response>"
        "<D:href>/dav/docs/a.txt</D:href><D:status>HTTP/1.1 412 Precondition Failed</D:status></D:response>"
        "</D:multistatus>"};

TEST(WritebackDeleteTest, DeletesFilesFoldersAndTreesAndForgetsThem) {
  // clang-format off
  struct Case {
    const char* name;
    Arrange arrange;
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
  const std::pair<std::string_view, long> notEmpty{kFileProviderErrorDomain, -1007};
  // clang-format off
  struct Case {
    const char* name;
    Arrange arrange;
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

TEST(WritebackRefusalTest, FailsAndKeepsEverythingAsItWas) {
  using Code = std::pair<std::string_view, long>;
  const Code invalidName{kCocoaErrorDomain, platform::cocoa::kFileWriteInvalidFileName},
      writeFailed{kCocoaErrorDomain, 512}, noItem{kFileProviderErrorDomain, -1005},
      changed{kFileProviderErrorDomain, -1006}, notEmpty{kFileProviderErrorDomain, -1007},
      unreachable{kFileProviderErrorDomain, -1004};
  const Strings any{"*"};  // many listings: not compared; no DELETE is sent either way
  const std::string doc = "/docs/a.txt";
  // clang-format off
  struct Case {
    const char* name;
    Arrange arrange;
    std::string path;
    Request request;
    Code error;
    Strings requests;
  } cases[] = {
      {"create: symbolic link", {}, "/docs", creating(TemplateItem({}, {}, "link",
       std::string(platform::kSymbolicLinkType))), {kCocoaErrorDomain, 3328}, {}},
      {"create: unknown parent", {}, "/docs", creating(TemplateItem::file("a.txt", "forgotten-id")), noItem, {}},
      {"create: empty name", {}, "/docs", creating(TemplateItem::file("", "")), invalidName, {}},
      {"create: dot-dot", {}, "/docs", creating(TemplateItem::folder("..", "")), invalidName, {}},
      {"create: folder where a file is", {}, "/docs", creating(TemplateItem::folder("a.txt", "")), writeFailed,
       {"MKCOL /dav/docs/a.txt/", "PROPFIND 0 " + kA}},
      {"create: in a folder gone from the server", removed("/docs"), "/docs", creating(TemplateItem::folder("new", "")),
       writeFailed, {"MKCOL /dav/docs/new/"}},
      // The file stays on the server, and the state as it was.
      {"create: read back fails", answer("PROPFIND", "/dav/docs/r.txt", {.status = 500}), "/docs",
       creating(TemplateItem::file("r.txt", "")), unreachable, {"PUT /dav/docs/r.txt", "PROPFIND 0 /dav/docs/r.txt"}},
      {"modify: unknown item", {}, doc, modifying("/docs", "a.txt", 0xFFFF, false), noItem, {}},
      {"modify: unknown parent", {}, doc, modifying("?", "a.txt", kParentItemIdentifier), noItem, {}},
      {"modify: name with a slash", {}, doc, modifying("/docs", "sub/a.txt", kFilename), invalidName, {}},
      {"modify: not UTF-8", {}, doc, modifying("/docs", "caf\xe9.txt", kFilename | kContents), invalidName, {}},
      {"modify: onto a name that is taken", {}, doc, modifying("/archive", "taken.txt", kFilename | kParentItemIdentifier),
       writeFailed, {"MOVE " + kA + " /dav/archive/taken.txt"}},
      // As lighttpd refuses a folder's move onto an existing name.
      {"modify: move answered 207 with the refusal", answer("MOVE", kA, kMoveRefused), doc,
       modifying("/docs", "b.txt", kFilename), writeFailed, {"MOVE " + kA + " /dav/docs/b.txt"}},
      {"modify: move answered 207 without a reason", answer("MOVE", kA, {.status = 207}), doc,
       modifying("/docs", "b.txt", kFilename), writeFailed, {"MOVE " + kA + " /dav/docs/b.txt"}},
      {"modify: source gone, nothing at the destination", removed(doc), doc,
       modifying("/archive", "a.txt", kParentItemIdentifier), noItem,
       {"MOVE " + kA + " /dav/archive/a.txt", "PROPFIND 0 /dav/archive/a.txt"}},
      {"modify: a 404 with the source still there", [](WritebackWorld& w) {
         w.tree.file("/archive/a.txt", "other");
         w.server.on("MOVE", kA, {.status = 404});
       }, doc, modifying("/archive", "a.txt", kParentItemIdentifier), noItem,
       {"MOVE " + kA + " /dav/archive/a.txt", "PROPFIND 0 /dav/archive/a.txt", "PROPFIND 0 " + kA}},
      {"delete: file changed since read", change("/c.txt"), "/c.txt", deleting(false), changed, {"PROPFIND 0 /dav/c.txt"}},
      {"delete: folder with members, not recursive", {}, "/a", deleting(false), notEmpty, kReadA},
      {"delete: new file in a listed folder", change("/a/z.txt"), "/a", deleting(true), changed, kReadA},
      {"delete: changed file deep down", change("/a/b/y.txt"), "/a", deleting(true), changed, kReadA},
      {"delete: new folder with a file in a listed folder", change("/a/new/f.txt"), "/a", deleting(true), changed,
       concat(kReadA, {"PROPFIND 1 /dav/a/new/"})},
      {"delete: the root", {}, "/", deleting(true), changed, {}},
      {"delete: reading the entry forbidden", answer("PROPFIND", "/dav/c.txt", {.status = 403}), "/c.txt",
       deleting(false), changed, {"PROPFIND 0 /dav/c.txt"}},
      // A server that follows symbolic links shows a link to a folder above as a folder, and answers 404 when
      // the walk has gone round the loop as often as it allows; what lies beside the loop is no member.
      {"delete: a folder below answers 404", [](WritebackWorld& w) {
         w.tree.file("/deep/up/keep/important.txt", "k");
         w.tree.folder("/deep/up/deep/up/deep/up");
         w.tree.fail("/dav/deep/up/deep/up/deep/up/", {.status = 404});
       }, "/deep", deleting(true), changed, any},
      {"delete: a folder below fails", [](WritebackWorld& w) {
         w.tree.file("/deep/up/keep/important.txt", "k");
         w.tree.fail("/dav/deep/up/keep/", {.status = 503});
       }, "/deep", deleting(true), unreachable, any},
      {"delete: deeper than 64 levels", [](WritebackWorld& w) { w.tree.file(deepFile(65)); }, "/deep",
       deleting(true), changed, any},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WritebackWorld world;
    const std::string id = world.drive.id(c.path);
    const bool file = world.tree.body(c.path).has_value();
    const std::string version = file ? world.tree.etag(c.path) : "";
    if (c.arrange) c.arrange(world);
    world.tree.sent();
    const std::string before = world.stateFile();
    std::map<std::string, std::optional<std::string>>
        held;  // every path the server holds, with a file's contents
    for (const auto& path : world.tree.paths()) held[path] = world.tree.body(path);

    expectError(c.request(world, id, version), c.error.first, c.error.second);

    Strings sent = world.tree.sent();
    if (c.requests != any) {
      EXPECT_EQ(sent, c.requests);
    }
    for (const auto& line : sent) EXPECT_FALSE(line.starts_with("DELETE")) << line;
    EXPECT_EQ(world.stateFile(), before);
    for (const auto& [path, body] : held) {
      EXPECT_TRUE(world.tree.has(path)) << path;
      EXPECT_EQ(world.tree.body(path), body) << path;
    }
  }
}

}  // namespace
}  // namespace davfp::testing
