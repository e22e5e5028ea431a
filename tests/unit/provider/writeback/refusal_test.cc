// Write-back requests that fail: each gets its error, sends only what it must, deletes nothing, and leaves
// the state file byte for byte as it was.
#include <gtest/gtest.h>

#include <functional>
#include <map>

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

const std::string kA = "/dav/docs/a.txt";
// The requests that read /a before its members are deleted.
const Strings kReadA = {"PROPFIND 0 /dav/a", "PROPFIND 1 /dav/a/", "PROPFIND 1 /dav/a/b/"};

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

TEST(WritebackRefusalTest, FailsAndKeepsEverythingAsItWas) {
  using Code = std::pair<std::string_view, long>;
  const Code invalidName{kCocoaErrorDomain, platform::cocoa::kFileWriteInvalidFileName},
      writeFailed{kCocoaErrorDomain, 512}, noItem{kFileProviderErrorDomain, -1005},
      changed{kFileProviderErrorDomain, -1006}, notEmpty{kFileProviderErrorDomain, -1007},
      unreachable{kFileProviderErrorDomain, -1004};
  const Strings any{"*"};  // many listings: not compared; no DELETE is sent either way
  const std::string a = "/docs/a.txt";
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
      {"create: name with a slash", {}, "/docs", creating(TemplateItem::file("sub/a.txt", "")), invalidName, {}},
      {"create: dot-dot", {}, "/docs", creating(TemplateItem::folder("..", "")), invalidName, {}},
      {"create: folder where a file is", {}, "/docs", creating(TemplateItem::folder("a.txt", "")), writeFailed,
       {"MKCOL /dav/docs/a.txt/", "PROPFIND 0 " + kA}},
      {"create: in a folder gone from the server", removed("/docs"), "/docs", creating(TemplateItem::folder("new", "")),
       writeFailed, {"MKCOL /dav/docs/new/"}},
      // The file stays on the server, and the state as it was.
      {"create: read back fails", answer("PROPFIND", "/dav/docs/r.txt", {.status = 500}), "/docs",
       creating(TemplateItem::file("r.txt", "")), unreachable, {"PUT /dav/docs/r.txt", "PROPFIND 0 /dav/docs/r.txt"}},
      {"modify: unknown item", {}, a, modifying("/docs", "a.txt", 0xFFFF, false), noItem, {}},
      {"modify: unknown parent", {}, a, modifying("?", "a.txt", kParentItemIdentifier), noItem, {}},
      {"modify: name with a slash", {}, a, modifying("/docs", "sub/a.txt", kFilename), invalidName, {}},
      {"modify: not UTF-8", {}, a, modifying("/docs", "caf\xe9.txt", kFilename | kContents), invalidName, {}},
      {"modify: onto a name that is taken", {}, a, modifying("/archive", "taken.txt", kFilename | kParentItemIdentifier),
       writeFailed, {"MOVE " + kA + " /dav/archive/taken.txt"}},
      // As lighttpd refuses a folder's move onto an existing name.
      {"modify: move answered 207 with the refusal", answer("MOVE", kA, kMoveRefused), a,
       modifying("/docs", "b.txt", kFilename), writeFailed, {"MOVE " + kA + " /dav/docs/b.txt"}},
      {"modify: move answered 207 without a reason", answer("MOVE", kA, {.status = 207}), a,
       modifying("/docs", "b.txt", kFilename), writeFailed, {"MOVE " + kA + " /dav/docs/b.txt"}},
      {"modify: source gone, nothing at the destination", removed(a), a,
       modifying("/archive", "a.txt", kParentItemIdentifier), noItem,
       {"MOVE " + kA + " /dav/archive/a.txt", "PROPFIND 0 /dav/archive/a.txt"}},
      {"modify: a 404 with the source still there", [](WritebackWorld& w) {
         w.tree.file("/archive/a.txt", "other");
         w.server.on("MOVE", kA, {.status = 404});
       }, a, modifying("/archive", "a.txt", kParentItemIdentifier), noItem,
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
      {"delete: deeper than 64 levels", [](WritebackWorld& w) {
         std::string path = "/deep";
         for (int i = 1; i < 65; ++i) path += "/d";
         w.tree.file(path + "/f");
       }, "/deep", deleting(true), changed, any},
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
