// Modifying items: what the server is sent (a MOVE for a new name and place, a PUT for new contents, then the
// entry read back), the fields reported pending, and the state following each accepted change, so that the
// next change pass finds nothing new; and uploads the server did not keep as sent.
#include <gtest/gtest.h>

#include "support/drive_test.h"

namespace davfp::testing {
namespace {

using namespace platform::field;

constexpr platform::ItemFields kEveryField = 0xFFFF;

TEST(WritebackModifyTest, MovesUploadsAndReportsPendingFields) {
  // clang-format off
  struct Case {
    const char* name;
    std::string parent, filename;  // of /docs/a.txt after the change
    platform::ItemFields changed;
    std::optional<std::string> contents;
    Strings requests;
    int anchorSteps;
  } cases[] = {
      {"rename, move and contents", "/archive", "c.txt", kFilename | kParentItemIdentifier | kContents, "new",
       {"MOVE /dav/docs/a.txt /dav/archive/c.txt", "PUT /dav/archive/c.txt", "PROPFIND 0 /dav/archive/c.txt"}, 2},
      {"contents", "/docs", "a.txt", kContents | kContentModificationDate, "new",
       {"PUT /dav/docs/a.txt", "PROPFIND 0 /dav/docs/a.txt"}, 1},
      {"every field, no contents", "/docs", "a.txt", kEveryField, {}, {"PROPFIND 0 /dav/docs/a.txt"}, 1},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WritebackWorld world;
    const std::string id = world.drive.id("/docs/a.txt"), path = c.parent + "/" + c.filename;
    const auto anchor = world.drive.state().anchor();

    auto outcome =
        world.drive.modify(TemplateItem::file(c.filename, world.drive.id(c.parent), id), c.changed,
                           c.contents ? world.drive.contents(*c.contents) : std::optional<std::string>());

    ASSERT_FALSE(outcome.error) << outcome.error->what();
    EXPECT_EQ(world.tree.sent(), c.requests);
    EXPECT_EQ(outcome.pending, c.changed & 0x3F8);  // the fields a WebDAV server cannot keep
    ASSERT_TRUE(outcome.item);
    EXPECT_EQ(outcome.item->filename(), c.filename);
    EXPECT_EQ(world.tree.body(path), c.contents.value_or("A"));
    EXPECT_EQ(world.drive.state().anchor(), anchor + c.anchorSteps);
    auto known = world.drive.state().knownFolders();
    EXPECT_EQ(known.at(c.parent).at(path), world.tree.etag(path));
    EXPECT_EQ(known.at("/docs").contains("/docs/a.txt"), path == "/docs/a.txt");
    world.expectQuiet();
    EXPECT_EQ(world.drive.state().path(id), path);  // the same item, not one the pass found anew
  }
}

TEST(WritebackModifyTest, MovesAFolderAsACollectionWithEverythingInIt) {
  WritebackWorld world;
  world.drive.list(world.drive.id("/docs/sub"));
  world.tree.sent();
  const std::string folder = world.drive.id("/docs"), deep = world.drive.id("/docs/sub/deep.txt");
  auto outcome = world.drive.modify(TemplateItem::folder("papers", world.drive.id("/archive"), folder),
                                    kFilename | kParentItemIdentifier);
  ASSERT_FALSE(outcome.error) << outcome.error->what();
  EXPECT_EQ(world.tree.sent(),
            (Strings{"MOVE /dav/docs/ /dav/archive/papers/", "PROPFIND 0 /dav/archive/papers"}));
  EXPECT_EQ(outcome.item->itemIdentifier(), folder);
  EXPECT_EQ(world.tree.body("/archive/papers/sub/deep.txt"), "D");
  auto known = world.drive.state().knownFolders();
  EXPECT_TRUE(known.contains("/archive/papers/sub"));
  EXPECT_FALSE(known.contains("/docs") || known.at("/").contains("/docs"));
  world.expectQuiet();
  EXPECT_EQ(world.drive.state().path(deep), "/archive/papers/sub/deep.txt");
}

TEST(WritebackModifyTest, LeavesTheRootAlone) {
  // A rename would move the whole drive into itself; a noted root would be reported deleted by the next pass.
  WritebackWorld world;
  const std::string before = world.stateFile();
  auto outcome = world.drive.modify(TemplateItem::folder("Renamed", platform::kRootContainerItemIdentifier,
                                                         platform::kRootContainerItemIdentifier),
                                    kEveryField, world.drive.contents("x"));
  ASSERT_FALSE(outcome.error) << outcome.error->what();
  EXPECT_EQ(outcome.item->filename(), "Drive");
  EXPECT_EQ(world.tree.sent(), Strings{});
  EXPECT_EQ(world.stateFile(), before);
  world.expectQuiet();
}

// The server moved the file and the connection broke before its answer: the MOVE sent again finds no source,
// and the destination shows it done. The item lives on under its identifier.
TEST(WritebackModifyTest, AMoveWhoseAnswerWasLostCountsWhenTheDestinationIsThere) {
  WritebackWorld world;
  const std::string c = world.drive.id("/c.txt");
  world.tree.loseAnswer("MOVE", "/dav/c.txt");
  auto lost = world.drive.modify(TemplateItem::file("c.txt", world.drive.id("/e"), c), kParentItemIdentifier);
  ASSERT_FALSE(lost.error) << lost.error->what();
  EXPECT_EQ(world.sent("PROPFIND"), (Strings{"0 /dav/e/c.txt", "0 /dav/c.txt", "0 /dav/e/c.txt"}));
  EXPECT_EQ(lost.item->itemIdentifier(), c);
  EXPECT_EQ(world.drive.state().path(c), "/e/c.txt");
  EXPECT_EQ(world.tree.body("/e/c.txt"), "c");
  world.expectQuiet();
}

TEST(WritebackStoredUploadTest, AServerThatKeepsOtherBytesFailsTheWrite) {
  const std::string sent(100, 'n');
  struct Case {
    const char* what;
    bool create;        // a new file; else new contents of /docs/a.txt ("A")
    std::string keeps;  // what the server keeps instead of the upload
  } cases[] = {
      {"replaced, 10 of 100 bytes kept", false, sent.substr(0, 10)},
      {"replaced, more bytes kept", false, sent + "more"},
      {"created, 10 of 100 bytes kept", true, sent.substr(0, 10)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    WritebackWorld world;
    const std::string path = c.create ? "/docs/new.txt" : "/docs/a.txt";
    // The server answers the PUT and does not store it; what it lists is what it kept.
    world.server.on("PUT", "/dav" + path, {.status = c.create ? 201 : 204});
    world.tree.file(path, c.keeps);
    world.tree.sent();
    const std::string before = world.stateFile();
    const std::string docs = world.drive.id("/docs");

    auto outcome = c.create
                       ? world.drive.create(TemplateItem::file("new.txt", docs), world.drive.contents(sent))
                       : world.drive.modify(TemplateItem::file("a.txt", docs, world.drive.id(path)),
                                            kContents, world.drive.contents(sent));

    EXPECT_EQ(world.tree.sent(), (Strings{"PUT /dav" + path, "PROPFIND 0 /dav" + path}));
    expectError(outcome.error, platform::kCocoaErrorDomain, platform::cocoa::kFileWriteUnknown);
    EXPECT_FALSE(outcome.item);
    EXPECT_EQ(world.stateFile(), before);
  }
}

}  // namespace
}  // namespace davfp::testing
