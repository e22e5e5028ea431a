// Modifying items: one MOVE for a new name and place, a PUT for new contents, the state following each
// accepted change, the fields reported back as pending, and what stays on failure.
#include <gtest/gtest.h>

#include <functional>

#include "support/drive_test.h"

namespace davfp::testing {
namespace {

using platform::kCocoaErrorDomain;
using platform::kFileProviderErrorDomain;
using namespace platform::field;
using Strings = std::vector<std::string>;

Strings concat(Strings a, const Strings& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

constexpr platform::ItemFields kEveryField = 0xFFFF;

// A drive holding /docs/a.txt, /docs/sub/deep.txt and /archive/taken.txt, every folder enumerated.
struct ModifyWorld : DriveWorld {
  ModifyWorld() {
    tree.folder("/docs");
    tree.file("/docs/a.txt", "A");
    tree.folder("/docs/sub");
    tree.file("/docs/sub/deep.txt", "D");
    tree.folder("/archive");
    tree.file("/archive/taken.txt", "T");
    drive.list(platform::kRootContainerItemIdentifier);
    for (const char* folder : {"/docs", "/docs/sub", "/archive"}) drive.list(drive.id(folder));
    tree.sent();
  }
  // The file /docs/a.txt as the platform would describe it after the user's change.
  TemplateItem a(const std::string& parent, std::string name) {
    return TemplateItem::file(std::move(name), drive.id(parent), drive.id("/docs/a.txt"));
  }
};

TEST(WritebackModifyTest, MovesUploadsAndReportsPendingFields) {
  // clang-format off
  struct Case {
    const char* name;
    std::string parent;  // the item's parent folder after the change
    std::string filename;
    platform::ItemFields changed;
    std::optional<std::string> contents;
    Strings requests;
    std::string path;  // where the item is afterwards
    int anchorSteps;
  } cases[] = {
      {"rename", "/docs", "b.txt", kFilename, {},
       {"MOVE /dav/docs/a.txt /dav/docs/b.txt", "PROPFIND 0 /dav/docs/b.txt"}, "/docs/b.txt", 2},
      {"move to another folder", "/archive", "a.txt", kParentItemIdentifier, {},
       {"MOVE /dav/docs/a.txt /dav/archive/a.txt", "PROPFIND 0 /dav/archive/a.txt"}, "/archive/a.txt", 2},
      {"rename, move and contents", "/archive", "c.txt", kFilename | kParentItemIdentifier | kContents, "new",
       {"MOVE /dav/docs/a.txt /dav/archive/c.txt", "PUT /dav/archive/c.txt", "PROPFIND 0 /dav/archive/c.txt"},
       "/archive/c.txt", 2},
      {"contents", "/docs", "a.txt", kContents | kContentModificationDate, "new",
       {"PUT /dav/docs/a.txt", "PROPFIND 0 /dav/docs/a.txt"}, "/docs/a.txt", 1},
      {"contents flag without contents", "/docs", "a.txt", kContents, {}, {"PROPFIND 0 /dav/docs/a.txt"},
       "/docs/a.txt", 1},
      {"name flag, same name", "/docs", "a.txt", kFilename | kParentItemIdentifier, {},
       {"PROPFIND 0 /dav/docs/a.txt"}, "/docs/a.txt", 1},
      {"every field, nothing new", "/docs", "a.txt", kEveryField, {}, {"PROPFIND 0 /dav/docs/a.txt"},
       "/docs/a.txt", 1},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ModifyWorld world;
    const std::string id = world.drive.id("/docs/a.txt");
    const auto anchor = world.drive.state().anchor();
    std::optional<std::string> file;
    if (c.contents) file = world.drive.contents(*c.contents);

    auto outcome = world.drive.modify(world.a(c.parent, c.filename), c.changed, file);

    ASSERT_FALSE(outcome.error) << outcome.error->what();
    EXPECT_EQ(world.tree.sent(), c.requests);
    EXPECT_EQ(outcome.pending, c.changed & 0x3F8);
    EXPECT_FALSE(outcome.shouldFetchContent);
    ASSERT_TRUE(outcome.item);
    EXPECT_EQ(outcome.item->itemIdentifier(), id);
    EXPECT_EQ(outcome.item->parentItemIdentifier(), world.drive.id(c.parent));
    EXPECT_EQ(outcome.item->filename(), c.filename);
    EXPECT_EQ(world.drive.state().path(id), c.path);
    EXPECT_EQ(world.tree.body(c.path), c.contents.value_or("A"));
    EXPECT_EQ(world.tree.has("/docs/a.txt"), c.path == "/docs/a.txt");
    EXPECT_EQ(world.drive.state().anchor(), anchor + c.anchorSteps);
    auto known = world.drive.state().knownFolders();
    EXPECT_EQ(known.at(c.parent).at(c.path), world.tree.etag(c.path));
    if (c.parent != "/docs") {
      EXPECT_FALSE(known.at("/docs").contains("/docs/a.txt"));
    }
    world.expectQuiet();
    EXPECT_EQ(world.drive.state().path(id), c.path);
  }
}

TEST(WritebackModifyTest, MovesAFolderAsACollectionWithEverythingInIt) {
  ModifyWorld world;
  const std::string folder = world.drive.id("/docs");
  const std::string deep = world.drive.id("/docs/sub/deep.txt");
  auto outcome = world.drive.modify(TemplateItem::folder("papers", world.drive.id("/archive"), folder),
                                    kFilename | kParentItemIdentifier);
  ASSERT_FALSE(outcome.error) << outcome.error->what();
  EXPECT_EQ(world.tree.sent(),
            (Strings{"MOVE /dav/docs/ /dav/archive/papers/", "PROPFIND 0 /dav/archive/papers"}));
  EXPECT_EQ(outcome.item->itemIdentifier(), folder);
  EXPECT_EQ(world.drive.state().path(deep), "/archive/papers/sub/deep.txt");
  EXPECT_EQ(world.tree.body("/archive/papers/sub/deep.txt"), "D");
  auto known = world.drive.state().knownFolders();
  EXPECT_TRUE(known.contains("/archive/papers/sub"));
  EXPECT_FALSE(known.contains("/docs"));
  EXPECT_FALSE(known.at("/").contains("/docs"));

  world.expectQuiet();
  EXPECT_EQ(world.drive.state().path(deep), "/archive/papers/sub/deep.txt");
}

TEST(WritebackModifyTest, LeavesTheRootAlone) {
  // A rename would move the whole drive into itself; a noted root would be reported deleted by the next pass.
  for (platform::ItemFields changed : {kLastUsedDate, kEveryField}) {
    SCOPED_TRACE(changed);
    ModifyWorld world;
    const std::string before = world.stateFile();
    auto outcome = world.drive.modify(TemplateItem::folder("Renamed", platform::kRootContainerItemIdentifier,
                                                           platform::kRootContainerItemIdentifier),
                                      changed, world.drive.contents("x"));
    ASSERT_FALSE(outcome.error) << outcome.error->what();
    EXPECT_EQ(outcome.item->filename(), "Drive");
    EXPECT_EQ(outcome.pending, changed & 0x3F8);
    EXPECT_EQ(world.tree.sent(), Strings{});
    EXPECT_EQ(world.stateFile(), before);
    auto pass = world.drive.changes();
    EXPECT_TRUE(pass->deleted().empty());
    EXPECT_EQ(world.drive.state().path(world.drive.id("/docs/a.txt")), "/docs/a.txt");
  }
}

const FakeServer::Reply kMoveRefused{
    .status = 207,
    .body =
        "<?xml version=\"1.0\" encoding=\"utf-8\"?><D:multistatus xmlns:D=\"DAV:\"><D:response>"
        "<D:href>/dav/docs/a.txt</D:href><D:status>HTTP/1.1 412 Precondition Failed</D:status></D:response>"
        "</D:multistatus>"};

TEST(WritebackModifyTest, FailsAndKeepsWhatTheServerRefused) {
  // clang-format off
  struct Case {
    const char* name;
    std::string parent, filename;  // of /docs/a.txt after the change; a parent "?" is one the state never named
    bool known;                    // the item is /docs/a.txt, not one the state never named
    platform::ItemFields changed;
    std::optional<std::pair<std::string, FakeServer::Reply>> refusal;  // the method refused for /docs/a.txt
    std::string_view domain;
    long code;
    Strings requests;
  } cases[] = {
      {"unknown item", "/docs", "a.txt", false, kEveryField, {}, kFileProviderErrorDomain, -1005, {}},
      {"unknown parent", "?", "a.txt", true, kParentItemIdentifier, {}, kFileProviderErrorDomain, -1005, {}},
      {"name with a slash", "/docs", "sub/a.txt", true, kFilename, {}, kCocoaErrorDomain,
       platform::cocoa::kFileWriteInvalidFileName, {}},
      {"name that is not UTF-8", "/docs", "caf\xe9.txt", true, kFilename | kContents, {}, kCocoaErrorDomain,
       platform::cocoa::kFileWriteInvalidFileName, {}},
      {"onto a name that is taken", "/archive", "taken.txt", true, kFilename | kParentItemIdentifier | kContents, {},
       kCocoaErrorDomain, 512, {"MOVE /dav/docs/a.txt /dav/archive/taken.txt"}},
      // As lighttpd refuses a folder's move onto an existing name.
      {"move answered 207 with the refusal", "/docs", "b.txt", true, kFilename, {{"MOVE", kMoveRefused}},
       kCocoaErrorDomain, 512, {"MOVE /dav/docs/a.txt /dav/docs/b.txt"}},
      {"move answered 207 without a reason", "/docs", "b.txt", true, kFilename, {{"MOVE", {.status = 207}}},
       kCocoaErrorDomain, 512, {"MOVE /dav/docs/a.txt /dav/docs/b.txt"}},
      {"upload refused", "/docs", "a.txt", true, kContents, {{"PUT", {.status = 409}}}, kCocoaErrorDomain, 512,
       {"PUT /dav/docs/a.txt"}},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ModifyWorld world;
    if (c.refusal) world.server.on(c.refusal->first, "/dav/docs/a.txt", c.refusal->second);
    TemplateItem item =
        TemplateItem::file(c.filename, c.parent == "?" ? "forgotten-id" : world.drive.id(c.parent),
                           c.known ? world.drive.id("/docs/a.txt") : "forgotten-id");
    const std::string before = world.stateFile();

    auto outcome = world.drive.modify(item, c.changed, world.drive.contents("new"));

    expectError(outcome.error, c.domain, c.code);
    EXPECT_FALSE(outcome.item);
    EXPECT_EQ(outcome.pending, 0u);
    EXPECT_EQ(world.tree.sent(), c.requests);
    EXPECT_EQ(world.stateFile(), before);
    EXPECT_EQ(world.tree.body("/docs/a.txt"), "A");
    EXPECT_EQ(world.tree.body("/archive/taken.txt"), "T");
  }
}

TEST(WritebackModifyTest, AMoveStaysDoneWhenTheUploadAfterItFails) {
  ModifyWorld world;
  world.server.on("PUT", "/dav/archive/a.txt", {.status = 500});
  const std::string id = world.drive.id("/docs/a.txt");
  auto outcome = world.drive.modify(world.a("/archive", "a.txt"), kParentItemIdentifier | kContents,
                                    world.drive.contents("x"));
  expectError(outcome.error, kFileProviderErrorDomain, -1004);
  EXPECT_EQ(world.tree.sent(),
            (Strings{"MOVE /dav/docs/a.txt /dav/archive/a.txt", "PUT /dav/archive/a.txt"}));
  EXPECT_EQ(world.drive.state().path(id), "/archive/a.txt");
  EXPECT_EQ(world.tree.body("/archive/a.txt"), "A");

  // The platform repeats the request: the item is already there, so only the contents go out again.
  world.server.on("PUT", "/dav/archive/a.txt", {.status = 204});
  outcome = world.drive.modify(TemplateItem::file("a.txt", world.drive.id("/archive"), id),
                               kParentItemIdentifier | kContents, world.drive.contents("x"));
  ASSERT_FALSE(outcome.error) << outcome.error->what();
  EXPECT_EQ(world.tree.sent(), (Strings{"PUT /dav/archive/a.txt", "PROPFIND 0 /dav/archive/a.txt"}));
}

TEST(WritebackModifyTest, AMoveWhoseSourceIsGoneCountsWhenTheDestinationIsThere) {
  const std::string move = "MOVE /dav/docs/a.txt /dav/archive/a.txt";
  const Strings look = {"PROPFIND 0 /dav/archive/a.txt", "PROPFIND 0 /dav/docs/a.txt"};
  // clang-format off
  struct Case {
    const char* name;
    std::function<void(ModifyWorld&)> arrange;
    bool done;  // the move counts as done; else the request fails with noSuchItem and changes nothing
    Strings requests;  // after the MOVE requests
  } cases[] = {
      // The server moved the file and the connection broke before its answer; the MOVE sent again finds no
      // source.
      {"the answer lost", [](ModifyWorld& w) { w.tree.loseAnswer("MOVE", "/dav/docs/a.txt"); }, true,
       concat(look, {"PROPFIND 0 /dav/archive/a.txt"})},
      {"the source gone, nothing at the destination", [](ModifyWorld& w) { w.tree.remove("/docs/a.txt"); }, false,
       {"PROPFIND 0 /dav/archive/a.txt"}},
      {"a 404 with the source still there", [](ModifyWorld& w) {
         w.tree.file("/archive/a.txt", "other");
         w.server.on("MOVE", "/dav/docs/a.txt", {.status = 404});
       }, false, look},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ModifyWorld world;
    const std::string id = world.drive.id("/docs/a.txt");
    c.arrange(world);
    const std::string before = world.stateFile();

    auto outcome = world.drive.modify(world.a("/archive", "a.txt"), kParentItemIdentifier);

    Strings sent = world.tree.sent(), moves;
    while (!sent.empty() && sent.front() == move) {
      moves.push_back(sent.front());
      sent.erase(sent.begin());
    }
    EXPECT_FALSE(moves.empty());
    EXPECT_EQ(sent, c.requests);
    if (c.done) {
      ASSERT_FALSE(outcome.error) << outcome.error->what();
      EXPECT_EQ(outcome.item->itemIdentifier(), id);
      EXPECT_EQ(world.drive.state().path(id), "/archive/a.txt");
      EXPECT_EQ(world.tree.body("/archive/a.txt"), "A");
      // The item lives on under its identifier: no deletion and no new item.
      world.expectQuiet();
    } else {
      expectError(outcome.error, kFileProviderErrorDomain, -1005);
      EXPECT_EQ(world.stateFile(), before);
    }
  }
}

}  // namespace
}  // namespace davfp::testing
