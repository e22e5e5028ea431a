// The WebDAV client against real servers: names that need escaping, in every Unicode form, come back byte for
// byte under any base path; transfers arrive whole; what is missing reaches the caller as the errors the
// engine tells apart.
#include <filesystem>
#include <functional>
#include <map>

#include "dav/dav.h"
#include "real_servers_fixture.h"
#include "support/dav_test_util.h"
#include "support/test_env.h"

namespace davfp::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const std::string kDomain = "org.example.real";

// Names that each need some escaping or a server's care, and a non-ASCII name in both Unicode forms (two
// different files on disk).
const std::vector<std::string> kNames = {
    "plain.txt",      "a b.txt",         "hash#1.txt",       "what?.txt",
    "semi;colon.txt", "100%.txt",        "%41 escaped",      "plus+sign.txt",
    "a&b<c>.txt",     "caf\xc3\xa9.txt", "cafe\xcc\x81.txt", "\xe6\x97\xa5\xe6\x9c\xac",
    "quote'.txt",     "[brackets]",
};

std::string contentsOf(const std::string& name) { return "contents of " + name + "\n"; }

// The names in a listing below folder, with isDir; the folder's own entry comes first.
std::map<std::string, bool> children(const std::vector<DavEntry>& entries, const std::string& folder) {
  std::map<std::string, bool> out;
  EXPECT_TRUE(!entries.empty() && entries[0].path == folder && entries[0].isDir) << folder;
  const std::string prefix = folder == "/" ? "/" : folder + "/";
  for (size_t i = 1; i < entries.size(); ++i) {
    EXPECT_TRUE(entries[i].path.starts_with(prefix)) << entries[i].path;
    out[entries[i].path.substr(prefix.size())] = entries[i].isDir;
  }
  return out;
}

class DavServersTest : public RealServersTest {
 protected:
  std::shared_ptr<Dav> start(const std::string& prefix = "/dav/") {
    env_.publish(kDomain, serve(prefix).baseUrl());
    return Dav::create(kDomain, env_, DavTimings{.pollInterval = 1ms, .polls = 1});
  }

  // A download's bytes; its file is removed.
  static std::string fetch(Dav& dav, const std::string& path) {
    std::string file = dav.download(path);
    std::string bytes = readFile(file);
    fs::remove(file);
    return bytes;
  }

  TestEnv env_;
};

TEST_P(DavServersTest, ListsFetchesAndMovesNamesByteForByteUnderAnyBasePath) {
  const std::string folder = "/dir #1; 100% ?+ \xc3\xa9";
  std::map<std::string, bool> expected;
  for (const auto& name : kNames) expected[name] = false;
  for (const char* prefix : {"/", "/x/y-z/"}) {
    SCOPED_TRACE(prefix);
    fs::remove_all(root_);
    for (const auto& name : kNames) place(folder.substr(1) + "/" + name, contentsOf(name));
    auto dav = start(prefix);
    SCOPED_TRACE(server_->name());

    EXPECT_EQ(children(dav->list("/", 1), "/"), (std::map<std::string, bool>{{folder.substr(1), true}}));
    EXPECT_EQ(children(dav->list(folder, 1), folder), expected);
    // A folder looked up on its own, without its "/" (some servers redirect).
    EXPECT_EQ(children(dav->list(folder, 0), folder), (std::map<std::string, bool>{}));
    for (const auto& name : kNames) {
      SCOPED_TRACE(name);
      auto one = dav->list(folder + "/" + name, 0);
      ASSERT_EQ(one.size(), 1u);
      EXPECT_EQ(one[0].path, folder + "/" + name);
      EXPECT_FALSE(one[0].isDir);
      EXPECT_EQ(one[0].size, static_cast<int64_t>(contentsOf(name).size()));
      EXPECT_EQ(fetch(*dav, folder + "/" + name), contentsOf(name));
    }
    dav->send("MKCOL", "/made", {}, std::nullopt, Target::collection);
    dav->move(folder + "/a b.txt", "/made/g.txt");
    EXPECT_EQ(readFile(disk("/made/g.txt")), contentsOf("a b.txt"));
    server_.reset();
  }
}

TEST_P(DavServersTest, TransfersArriveWholeAndWhatIsMissingIsNotFound) {
  place("a.txt", "a");
  auto dav = start();
  SCOPED_TRACE(server_->name());

  // Uploads: empty, large, and over an existing file.
  TempDir local;
  const std::string big = patterned(4 << 20);
  writeFile(local.file("big"), big);
  dav->upload("/empty.txt", std::nullopt);
  dav->upload("/big.bin", local.file("big"));
  dav->upload("/a.txt", local.file("big"));
  EXPECT_EQ(readFile(disk("/empty.txt")), "");
  EXPECT_EQ(readFile(disk("/big.bin")), big);
  EXPECT_EQ(readFile(disk("/a.txt")), big);
  auto listed = dav->list("/big.bin", 0);
  ASSERT_EQ(listed.size(), 1u);
  EXPECT_EQ(listed[0].size, static_cast<int64_t>(big.size()));
  EXPECT_EQ(fetch(*dav, "/big.bin"), big);
  EXPECT_EQ(fetch(*dav, "/empty.txt"), "");

  // Whatever is missing is notFound, never a retry elsewhere.
  struct Case {
    const char* what;
    std::function<void()> call;
    DavError error = DavError::notFound();
  } missing[] = {
      {"list a folder", [&] { dav->list("/missing", 1); }},
      {"list a file", [&] { dav->list("/missing.txt", 0); }},
      {"download", [&] { dav->download("/missing.txt"); }},
      // rclone answers a move of a missing source with 403.
      {"move", [&] { dav->move("/missing.txt", "/elsewhere.txt"); },
       GetParam() == ServerKind::rclone ? DavError::forbidden() : DavError::notFound()},
      {"delete", [&] { dav->send("DELETE", "/missing.txt"); }},
  };
  for (const auto& c : missing) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(davErrorOf(c.call), c.error);
  }
  EXPECT_TRUE(fs::is_empty(env_.tmpPath()));
  EXPECT_TRUE(env_.launches().empty());
}

DAVFP_ON_EVERY_SERVER(DavServersTest);

}  // namespace
}  // namespace davfp::testing
