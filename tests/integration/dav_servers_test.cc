// The WebDAV client against real servers: names that need escaping, in every Unicode form, come back byte for
// byte; transfers arrive whole; the servers' refusals reach the caller as the errors the engine tells apart.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <map>

#include "dav/dav.h"
#include "platform/error.h"
#include "platform/url_session.h"
#include "support/dav_test_util.h"
#include "support/real_server.h"
#include "support/temp_dir.h"
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

// Every byte value, and more than one network read's worth.
std::string pattern(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 131 + i / 4093) % 256);
  return s;
}

class DavServersTest : public ::testing::TestWithParam<ServerKind> {
 protected:
  void SetUp() override {
    // A server that drops root must reach its folder: TempDir is private (0700) by default.
    ASSERT_EQ(::chmod(tmp_.path().c_str(), 0755), 0);
    fs::create_directory(root_);
  }

  // Starts the server on root_ and a client on its base URL.
  std::shared_ptr<Dav> start(const std::string& prefix = "/dav/") {
    server_ = RealServer::start(GetParam(), root_, prefix);
    server_->adopt(root_);
    env_.publish(kDomain, server_->baseUrl());
    return Dav::create(kDomain, env_, DavTimings{.pollInterval = 1ms, .polls = 1});
  }

  // The names in a listing's entries below folder (the folder's own entry left out), with isDir.
  static std::map<std::string, bool> children(const std::vector<DavEntry>& entries,
                                              const std::string& folder) {
    std::map<std::string, bool> out;
    const std::string prefix = folder == "/" ? "/" : folder + "/";
    for (const auto& entry : entries) {
      if (entry.path == folder) continue;
      EXPECT_TRUE(entry.path.starts_with(prefix)) << entry.path;
      out[entry.path.substr(prefix.size())] = entry.isDir;
    }
    return out;
  }

  TempDir tmp_;
  const std::string root_ = tmp_.file("root");
  TestEnv env_;
  std::unique_ptr<RealServer> server_;
};

TEST_P(DavServersTest, ListsAndFetchesNamesByteForByte) {
  const std::string folder = "dir #1; 100% ?+ \xc3\xa9";
  fs::create_directory(root_ + "/" + folder);
  std::map<std::string, bool> expected;
  for (const auto& name : kNames) {
    writeFile(root_ + "/" + name, contentsOf(name));
    writeFile(root_ + "/" + folder + "/" + name, contentsOf(name));
    expected[name] = false;
  }
  auto dav = start();
  SCOPED_TRACE(server_->name());

  auto top = dav->list("/", 1);
  ASSERT_FALSE(top.empty());
  EXPECT_EQ(top[0].path, "/");
  EXPECT_TRUE(top[0].isDir);
  auto expectedTop = expected;
  expectedTop[folder] = true;
  EXPECT_EQ(children(top, "/"), expectedTop);

  const std::string folderPath = "/" + folder;
  auto inner = dav->list(folderPath, 1);
  ASSERT_FALSE(inner.empty());
  EXPECT_EQ(inner[0].path, folderPath);
  EXPECT_EQ(children(inner, folderPath), expected);

  for (const auto& name : kNames) {
    SCOPED_TRACE(name);
    const std::string path = folderPath + "/" + name;
    auto one = dav->list(path, 0);
    ASSERT_EQ(one.size(), 1u);
    EXPECT_EQ(one[0].path, path);
    EXPECT_FALSE(one[0].isDir);
    EXPECT_EQ(one[0].size, static_cast<int64_t>(contentsOf(name).size()));
    std::string file = dav->download(path);
    EXPECT_EQ(readFile(file), contentsOf(name));
    fs::remove(file);
  }
}

TEST_P(DavServersTest, WorksUnderAnyBasePath) {
  for (const char* prefix : {"/", "/x/y-z/"}) {
    SCOPED_TRACE(prefix);
    fs::remove_all(root_);
    fs::create_directories(root_ + "/sub");
    writeFile(root_ + "/sub/f.txt", "in sub");
    auto dav = start(prefix);
    SCOPED_TRACE(server_->name());

    EXPECT_EQ(children(dav->list("/", 1), "/"), (std::map<std::string, bool>{{"sub", true}}));
    EXPECT_EQ(children(dav->list("/sub", 1), "/sub"), (std::map<std::string, bool>{{"f.txt", false}}));
    // A folder looked up on its own, without its "/" (some servers redirect).
    auto folder = dav->list("/sub", 0);
    ASSERT_EQ(folder.size(), 1u);
    EXPECT_EQ(folder[0].path, "/sub");
    EXPECT_TRUE(folder[0].isDir);
    std::string file = dav->download("/sub/f.txt");
    EXPECT_EQ(readFile(file), "in sub");
    fs::remove(file);
    dav->send("MKCOL", "/made", {}, std::nullopt, Target::collection);
    dav->move("/sub/f.txt", "/made/g.txt");
    EXPECT_EQ(readFile(root_ + "/made/g.txt"), "in sub");
    server_.reset();
  }
}

TEST_P(DavServersTest, TransfersArriveWholeAndRefusalsKeepTheirMeaning) {
  fs::create_directory(root_ + "/folder");
  writeFile(root_ + "/a.txt", "a");
  writeFile(root_ + "/b.txt", "b");
  writeFile(root_ + "/folder/inner.txt", "inner");
  auto dav = start();
  SCOPED_TRACE(server_->name());

  // Uploads: empty, large, and over an existing file.
  TempDir local;
  const std::string big = pattern(10 << 20);
  writeFile(local.file("big"), big);
  dav->upload("/empty.txt", std::nullopt);
  dav->upload("/big.bin", local.file("big"));
  dav->upload("/a.txt", local.file("big"));
  EXPECT_EQ(fs::file_size(root_ + "/empty.txt"), 0u);
  EXPECT_EQ(readFile(root_ + "/big.bin"), big);
  EXPECT_EQ(readFile(root_ + "/a.txt"), big);
  auto listed = dav->list("/big.bin", 0);
  ASSERT_EQ(listed.size(), 1u);
  EXPECT_EQ(listed[0].size, static_cast<int64_t>(big.size()));

  std::string file = dav->download("/big.bin");
  EXPECT_EQ(readFile(file), big);
  fs::remove(file);
  file = dav->download("/empty.txt");
  EXPECT_EQ(fs::file_size(file), 0u);
  fs::remove(file);

  // Moving onto an existing name is refused and changes nothing.
  EXPECT_EQ(davErrorOf([&] { dav->move("/b.txt", "/a.txt"); }), DavError::status(412));
  EXPECT_EQ(readFile(root_ + "/b.txt"), "b");
  EXPECT_EQ(readFile(root_ + "/a.txt"), big);
  fs::create_directory(root_ + "/other");
  server_->adopt(root_ + "/other");
  // lighttpd refuses a folder's move in a multistatus body, with 412 for the folder: the same failure.
  EXPECT_EQ(davErrorOf([&] { dav->move("/folder", "/other", Target::collection); }), DavError::status(412));
  EXPECT_EQ(readFile(root_ + "/folder/inner.txt"), "inner");
  EXPECT_TRUE(fs::is_empty(root_ + "/other"));

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

  // The harness leaves nothing listening behind a stopped server.
  server_->stop();
  EXPECT_THROW(platform::UrlSession().data({.method = "OPTIONS", .url = server_->baseUrl()}),
               platform::Error);
}

INSTANTIATE_TEST_SUITE_P(Servers, DavServersTest, ::testing::ValuesIn(allServerKinds()),
                         [](const auto& kind) { return serverName(kind.param); });

}  // namespace
}  // namespace davfp::testing
