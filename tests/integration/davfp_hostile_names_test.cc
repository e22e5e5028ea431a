// Names a server chooses, on their way to a terminal: escape sequences, line breaks, NUL and C1 controls
// are shown as escapes by every printout for people, each name one piece of one line,
// and JSON carries them exactly, escaped as JSON escapes.
#include <gtest/gtest.h>

#include <sstream>

#include "support/dav_test_util.h"
#include "support/fake_server.h"
#include "support/host_drive.h"

namespace davfp::testing {
namespace {

using namespace std::string_literals;
using Reply = FakeServer::Reply;

struct Name {
  std::string href;   // as the server sends it, under /dav/
  std::string name;   // what it decodes to
  std::string shown;  // what a person sees
  bool folder = false;
};

// In the order of their bytes, as ls sorts them.
const std::vector<Name> kNames = {
    {"%1b%5b2J%1b%5b3Jclear", "\x1b[2J\x1b[3Jclear", "\\033[2J\\033[3Jclear"},
    {"csi%c2%9b2J", "csi\u009b2J", "csi\\302\\2332J"},
    {"dir%0d%1b%5bK/", "dir\r\x1b[K", "dir\\r\\033[K", true},
    {"line%0a-rw%20forged", "line\n-rw forged", "line\\n-rw forged"},
    {"nul%00hidden", "nul\0hidden"s, "nul\\000hidden"},
    {"title%1b%5d0%3bowned%07", "title\x1b]0;owned\x07", "title\\033]0;owned\\a"},
};

Reply listing(const std::vector<Listed>& entries) {
  return Reply{.status = 207, .headers = {{"Content-Type", "application/xml"}}, .body = multistatus(entries)};
}

void expectNoControls(const std::string& text) {
  for (unsigned char b : text) {
    EXPECT_TRUE(b == '\n' || (b >= 0x20 && b != 0x7F)) << "byte " << static_cast<int>(b) << " in: " << text;
  }
}

TEST(DavfpHostileNamesTest, PeopleSeeEscapesAndScriptsGetTheExactNames) {
  HostDrive drive;
  FakeServer server;
  server.setHandler([](const FakeServer::Received& r) {
    if (r.method == "PROPFIND" && r.target == "/dav/" && r.header("Depth") == "1") {
      std::vector<Listed> entries{{"/dav/", true}};
      for (const auto& n : kNames) entries.push_back({"/dav/" + n.href, n.folder});
      return listing(entries);
    }
    if (r.method == "PROPFIND") return listing({{r.target, r.target.ends_with("/")}});
    return Reply{.status = 404};
  });
  drive.publish({{kTestDomain, {kTestDriveName, server.url("/dav/")}}});

  std::string expected;
  for (const auto& n : kNames) expected += n.shown + (n.folder ? "/" : "") + "\n";
  EXPECT_EQ(drive.ok({"ls"}), expected);

  const std::string longList = drive.ok({"ls", "-l"});
  expectNoControls(longList);
  std::istringstream rows(longList);
  std::string row;
  for (const auto& n : kNames) {
    ASSERT_TRUE(std::getline(rows, row)) << longList;
    EXPECT_TRUE(row.ends_with("  " + n.shown + (n.folder ? "/" : ""))) << row;
  }
  EXPECT_FALSE(std::getline(rows, row)) << "more lines than names: " << longList;

  const std::string json = drive.ok({"ls", "--json"});
  expectNoControls(json);
  auto items = jsonLines(json);
  ASSERT_EQ(items.size(), kNames.size()) << json;
  for (size_t i = 0; i < items.size(); ++i) EXPECT_EQ(items[i]["name"], kNames[i].name);
  EXPECT_NE(json.find("\"nul\\u0000hidden\""), std::string::npos) << json;

  // An error that names a path through such a name.
  ProcessResult through = drive.davfp({"ls", "title\x1b]0;owned\x07/x"});
  EXPECT_EQ(through.status, 1);
  EXPECT_EQ(through.err, "davfp: /title\\033]0;owned\\a: Not a directory\n");
}

}  // namespace
}  // namespace davfp::testing
