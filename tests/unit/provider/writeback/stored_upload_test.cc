// Uploads checked against what the server lists afterwards: a server that answers a PUT with success but
// keeps the old contents, or part of the new ones, fails the request as a failed write, and the state keeps
// what it knew. The check reads nothing more than the entry that the request reads back anyway.
#include <gtest/gtest.h>

#include "support/drive_test.h"

namespace davfp::testing {
namespace {

using Strings = std::vector<std::string>;

TEST(WritebackStoredUploadTest, AServerThatKeepsOtherBytesFailsTheWrite) {
  const std::string sent(100, 'n');
  // A listing of /docs/a.txt that reports no length.
  const std::string unsized =
      "<?xml version=\"1.0\"?><D:multistatus xmlns:D=\"DAV:\"><D:response><D:href>/dav/docs/a.txt</D:href>"
      "<D:propstat><D:prop><D:resourcetype/><D:getetag>\"u\"</D:getetag></D:prop>"
      "<D:status>HTTP/1.1 200 OK</D:status></D:propstat></D:response></D:multistatus>";
  struct Case {
    const char* what;
    bool create;                       // a new file; else new contents of /docs/a.txt ("A")
    std::optional<std::string> keeps;  // what the server keeps instead of the upload; none: the upload
    bool listsLength = true;
    bool fails = true;
  } cases[] = {
      {"replaced, the old contents kept", false, "A"},
      {"replaced, 10 of 100 bytes kept", false, sent.substr(0, 10)},
      {"created, nothing kept", true, ""},
      {"created, 10 of 100 bytes kept", true, sent.substr(0, 10)},
      {"replaced, kept whole", false, std::nullopt, true, false},
      {"replaced, no length listed", false, "A", false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    DriveWorld world;
    world.tree.folder("/docs");
    world.tree.file("/docs/a.txt", "A");
    world.drive.list(platform::kRootContainerItemIdentifier);
    world.drive.list(world.drive.id("/docs"));
    const std::string path = c.create ? "/docs/new.txt" : "/docs/a.txt";
    if (c.keeps) {
      // The server answers the PUT and does not store it; what it lists is what it kept.
      world.server.on("PUT", "/dav" + path, {.status = c.create ? 201 : 204});
      world.tree.file(path, *c.keeps);
    }
    if (!c.listsLength) world.server.on("PROPFIND", "/dav" + path, {.status = 207, .body = unsized});
    world.tree.sent();
    const std::string before = world.stateFile();

    auto outcome = c.create ? world.drive.create(TemplateItem::file("new.txt", world.drive.id("/docs")),
                                                 world.drive.contents(sent))
                            : world.drive.modify(TemplateItem::file("a.txt", world.drive.id("/docs"),
                                                                    world.drive.id("/docs/a.txt")),
                                                 platform::field::kContents, world.drive.contents(sent));

    EXPECT_EQ(world.tree.sent(), (Strings{"PUT /dav" + path, "PROPFIND 0 /dav" + path}));
    if (!c.fails) {
      EXPECT_FALSE(outcome.error) << outcome.error->what();
      continue;
    }
    expectError(outcome.error, platform::kCocoaErrorDomain, platform::cocoa::kFileWriteUnknown);
    EXPECT_FALSE(outcome.item);
    EXPECT_EQ(world.stateFile(), before);
  }
}

}  // namespace
}  // namespace davfp::testing
