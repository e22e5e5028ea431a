// Creating items: what the server is sent, what the state records, and what stays untouched on failure.
#include <gtest/gtest.h>

#include "support/drive_test.h"

namespace davfp::testing {
namespace {

using platform::kCocoaErrorDomain;
using platform::kFileProviderErrorDomain;
using Strings = std::vector<std::string>;

// A drive holding /docs with /docs/old.txt, whose root and /docs the platform has enumerated.
struct CreateWorld : DriveWorld {
  CreateWorld() {
    tree.folder("/docs");
    tree.file("/docs/old.txt", "old");
    drive.list(platform::kRootContainerItemIdentifier);
    drive.list(drive.id("/docs"));
    tree.sent();
  }
  std::string docs() { return drive.id("/docs"); }
};

TEST(WritebackCreateTest, WritesTheItemReadsItBackAndNotesIt) {
  // clang-format off
  struct Case {
    const char* name;
    std::string parent;  // path of the parent folder
    TemplateItem item;
    std::optional<std::string> contents;
    Strings requests;
    std::string path;
    bool folder;
  } cases[] = {
      {"folder in the root", "/", TemplateItem::folder("new"), {}, {"MKCOL /dav/new/", "PROPFIND 0 /dav/new"},
       "/new", true},
      {"file with contents", "/docs", TemplateItem::file("a b.txt"), "hello",
       {"PUT /dav/docs/a%20b.txt", "PROPFIND 0 /dav/docs/a%20b.txt"}, "/docs/a b.txt", false},
      {"file without contents", "/docs", TemplateItem::file("empty.txt"), {},
       {"PUT /dav/docs/empty.txt", "PROPFIND 0 /dav/docs/empty.txt"}, "/docs/empty.txt", false},
      {"template without a type", "/docs", TemplateItem::make({}, {}, "untyped", std::nullopt), "u",
       {"PUT /dav/docs/untyped", "PROPFIND 0 /dav/docs/untyped"}, "/docs/untyped", false},
      {"file over a file", "/docs", TemplateItem::file("old.txt"), "replaced",
       {"PUT /dav/docs/old.txt", "PROPFIND 0 /dav/docs/old.txt"}, "/docs/old.txt", false},
  };
  // clang-format on
  for (auto& c : cases) {
    SCOPED_TRACE(c.name);
    CreateWorld world;
    c.item.parent = world.drive.id(c.parent);
    auto anchor = world.drive.state().anchor();
    std::optional<std::string> file;
    if (c.contents) file = world.drive.contents(*c.contents);
    const int writes = world.env.writes;

    auto outcome = world.drive.create(c.item, file);

    ASSERT_FALSE(outcome.error) << outcome.error->what();
    EXPECT_EQ(world.tree.sent(), c.requests);
    EXPECT_EQ(outcome.pending, 0u);
    EXPECT_FALSE(outcome.shouldFetchContent);
    ASSERT_TRUE(outcome.item);
    EXPECT_EQ(outcome.item->itemIdentifier(), world.drive.id(c.path));
    EXPECT_EQ(outcome.item->parentItemIdentifier(), c.item.parent);
    EXPECT_EQ(outcome.item->filename(), c.item.name);
    EXPECT_EQ(outcome.item->contentType() == platform::kFolderType, c.folder);
    ASSERT_EQ(world.tree.isFolder(c.path), c.folder);
    if (!c.folder) {
      EXPECT_EQ(world.tree.body(c.path), c.contents.value_or(""));
      EXPECT_EQ(outcome.item->documentSize(), static_cast<int64_t>(c.contents.value_or("").size()));
    }
    // The server's version of the new item, in its folder's snapshot, and its identifier in one save; one
    // step of the anchor.
    EXPECT_EQ(world.env.writes, writes + 1);
    EXPECT_EQ(world.drive.state().knownFolders().at(c.parent).at(c.path), world.tree.etag(c.path));
    EXPECT_EQ(outcome.item->itemVersion().contentVersion, world.tree.etag(c.path));
    EXPECT_EQ(world.drive.state().anchor(), anchor + 1);
    world.expectQuiet();
  }
}

TEST(WritebackCreateTest, AdoptsAFolderTheServerAlreadyHas) {
  CreateWorld world;
  std::string known = world.docs();
  auto outcome = world.drive.create(TemplateItem::folder("docs"));
  ASSERT_FALSE(outcome.error) << outcome.error->what();
  EXPECT_EQ(world.tree.sent(), (Strings{"MKCOL /dav/docs/", "PROPFIND 0 /dav/docs", "PROPFIND 0 /dav/docs"}));
  EXPECT_EQ(outcome.item->itemIdentifier(), known);
  EXPECT_EQ(outcome.item->contentType(), platform::kFolderType);
  EXPECT_EQ(world.tree.body("/docs/old.txt"), "old");
}

TEST(WritebackCreateTest, FailsWithoutRecordingAnything) {
  const long kInvalidName = platform::cocoa::kFileWriteInvalidFileName;
  // clang-format off
  struct Case {
    const char* name;
    TemplateItem item;  // in /docs unless it names another parent than the root
    std::function<void(CreateWorld&)> arrange;
    std::string_view domain;
    long code;
    Strings requests;
  } cases[] = {
      {"symbolic link", TemplateItem::make({}, {}, "link", std::string(platform::kSymbolicLinkType)), {},
       kCocoaErrorDomain, 3328, {}},
      {"unknown parent", TemplateItem::file("a.txt", "forgotten-id"), {}, kFileProviderErrorDomain, -1005, {}},
      {"empty name", TemplateItem::file(""), {}, kCocoaErrorDomain, kInvalidName, {}},
      {"name with a slash", TemplateItem::file("sub/a.txt"), {}, kCocoaErrorDomain, kInvalidName, {}},
      {"dot-dot name", TemplateItem::folder(".."), {}, kCocoaErrorDomain, kInvalidName, {}},
      {"name that is not UTF-8", TemplateItem::file("caf\xe9.txt"), {}, kCocoaErrorDomain, kInvalidName, {}},
      {"folder where a file is", TemplateItem::folder("old.txt"), {}, kCocoaErrorDomain, 512,
       {"MKCOL /dav/docs/old.txt/", "PROPFIND 0 /dav/docs/old.txt"}},
      {"folder in a folder gone from the server", TemplateItem::folder("sub"),
       [](CreateWorld& w) { w.tree.remove("/docs"); }, kCocoaErrorDomain, 512, {"MKCOL /dav/docs/sub/"}},
  };
  // clang-format on
  for (auto& c : cases) {
    SCOPED_TRACE(c.name);
    CreateWorld world;
    if (c.item.parent == platform::kRootContainerItemIdentifier || c.item.parent.empty())
      c.item.parent = world.docs();
    if (c.arrange) c.arrange(world);
    std::string before = world.stateFile();
    auto paths = world.tree.paths();

    auto outcome = world.drive.create(c.item, world.drive.contents("bytes"));

    expectError(outcome.error, c.domain, c.code);
    EXPECT_FALSE(outcome.item);
    EXPECT_EQ(outcome.pending, 0u);
    EXPECT_EQ(world.tree.sent(), c.requests);
    EXPECT_EQ(world.stateFile(), before);
    EXPECT_EQ(world.tree.paths(), paths);
  }
}

TEST(WritebackCreateTest, AFailedReadBackLeavesTheFileOnTheServerAndTheStateAsItWas) {
  CreateWorld world;
  world.server.on("PROPFIND", "/dav/docs/r.txt", {.status = 500});
  std::string before = world.stateFile();
  auto outcome = world.drive.create(TemplateItem::file("r.txt", world.docs()), world.drive.contents("r"));
  expectError(outcome.error, kFileProviderErrorDomain, -1004);
  EXPECT_EQ(world.tree.sent(), (Strings{"PUT /dav/docs/r.txt", "PROPFIND 0 /dav/docs/r.txt"}));
  EXPECT_EQ(world.tree.body("/docs/r.txt"), "r");
  EXPECT_EQ(world.stateFile(), before);
}

}  // namespace
}  // namespace davfp::testing
