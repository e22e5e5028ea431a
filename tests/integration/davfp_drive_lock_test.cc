// One process at a time uses a drive: a second davfp waits for the first, naming it, or with --no-wait fails
// at once.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <thread>

#include "support/dav_test_util.h"
#include "support/fake_server.h"
#include "support/host_drive.h"

namespace davfp::testing {
namespace {

using namespace std::chrono_literals;
using Reply = FakeServer::Reply;

Reply listing(const std::vector<Listed>& entries) {
  return Reply{.status = 207, .headers = {{"Content-Type", "application/xml"}}, .body = multistatus(entries)};
}

// Blocks until the server has received a request with this method.
bool waitForMethod(const FakeServer& server, const std::string& method) {
  for (size_t n = 1;; ++n) {
    for (const auto& r : server.requests()) {
      if (r.method == method) return true;
    }
    if (!server.waitForRequests(n, 60s)) return false;
  }
}

TEST(DavfpDriveLockTest, ASecondProcessWaitsForTheHolderOrFailsAtOnce) {
  HostDrive drive;
  FakeServer server;
  // A download that the server never answers keeps its process, and so the drive, busy.
  server.setHandler([](const FakeServer::Received& r) {
    if (r.method == "PROPFIND" && r.header("Depth") == "1")
      return listing({{"/dav/", true}, {"/dav/big.bin"}});
    if (r.method == "PROPFIND") return listing({{r.target, r.target.ends_with("/")}});
    if (r.method == "GET") return Reply{.noAnswer = true};
    return Reply{.status = 201};
  });
  drive.publish({{kTestDomain, {kTestDriveName, server.url("/dav/")}}});

  auto holder = drive.startDavfp({"get", "big.bin", drive.scratch()});
  ASSERT_TRUE(waitForMethod(server, "GET")) << holder->err();
  const std::string named = "in use by process " + std::to_string(holder->pid()) + " (davfp get big.bin ";

  ProcessResult refused = drive.davfp({"--no-wait", "mkdir", "new"});
  EXPECT_EQ(refused.status, 1);
  EXPECT_TRUE(refused.err.starts_with("davfp: drive \"t\" is " + named)) << refused.err;
  EXPECT_NE(refused.err.find("without --no-wait"), std::string::npos) << refused.err;
  ProcessResult asJson = drive.davfp({"anchor", "--no-wait"});
  EXPECT_EQ(asJson.status, 1);
  auto lines = jsonLines(asJson.out);
  ASSERT_EQ(lines.size(), 1u) << asJson.out;
  EXPECT_EQ(lines[0]["error"]["domain"], "NSPOSIXErrorDomain");
  EXPECT_EQ(lines[0]["error"]["code"], EBUSY);

  // Without --no-wait it waits, says for whom, and asks the server nothing until the drive is free.
  auto waiter = drive.startDavfp({"mkdir", "new"});
  ASSERT_TRUE(waiter->waitForOutput(named, true, 60s)) << waiter->err();
  for (const auto& r : server.requests()) EXPECT_NE(r.method, "MKCOL");
  holder->signal(SIGINT);
  EXPECT_EQ(holder->finish(60s).status, 130);
  ProcessResult done = waiter->finish(60s);
  EXPECT_EQ(done.status, 0) << done.err;
  EXPECT_TRUE(waitForMethod(server, "MKCOL"));
}

// watch prints each change on the server once, in words or as JSON, until interrupted; it holds the drive
// only for each pass, and what other commands did in between is its starting point, not news.
TEST(DavfpWatchTest, WatchReportsServerChangesAndKeepsWhatOtherCommandsDid) {
  HostDrive drive;
  drive.placeOnServer("a.txt", "alpha\n");
  drive.placeOnServer("gone.txt", "gone\n");
  drive.serve();
  const std::string id = jsonLines(drive.ok({"--json", "ls", "a.txt"})).at(0)["id"];
  auto watch = drive.startDavfp({"watch", "--interval", "1"});
  ASSERT_TRUE(watch->waitForOutput("watching", true, 60s)) << watch->err();
  // These run between watch's passes (or wait for one to end).
  drive.ok({"mv", "a.txt", "b.txt"});
  for (const char* name : {"d1", "d2", "d3"}) drive.ok({"mkdir", name});

  drive.placeOnServer("marker.txt", "m\n");
  std::filesystem::remove(drive.served() + "/gone.txt");
  EXPECT_TRUE(watch->waitForOutput("new      /marker.txt\n", false, 60s)) << watch->out();
  EXPECT_TRUE(watch->waitForOutput("deleted  /gone.txt\n", false, 60s)) << watch->out();
  drive.placeOnServer("marker.txt", "marker, longer\n");
  EXPECT_TRUE(watch->waitForOutput("changed  /marker.txt\n", false, 60s)) << watch->out();
  EXPECT_EQ(jsonLines(drive.ok({"--json", "ls", "b.txt"})).at(0)["id"], id);
  watch->signal(SIGINT);
  ProcessResult r = watch->finish(60s);
  EXPECT_EQ(r.status, 130) << r.err;
  EXPECT_EQ(r.out.find("b.txt"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("/d1"), std::string::npos) << r.out;

  // As JSON: the anchor where watching began, the change with its path, and the anchor only once it moved.
  auto scripted = drive.startDavfp({"--json", "watch", "--interval", "1"});
  ASSERT_TRUE(scripted->waitForOutput("{\"anchor\"", false, 60s)) << scripted->err();
  std::this_thread::sleep_for(2s);  // quiet passes, each of which could print the anchor again
  drive.placeOnServer("arrived.txt", "hello\n");
  ASSERT_TRUE(scripted->waitForOutput("arrived.txt", false, 60s)) << scripted->out();
  ASSERT_TRUE(scripted->waitForOutput("}\n{\"anchor\"", false, 60s)) << scripted->out();
  scripted->signal(SIGINT);
  ProcessResult ended = scripted->finish(60s);
  auto lines = jsonLines(ended.out);
  ASSERT_EQ(lines.size(), 3u) << ended.out;
  EXPECT_EQ(lines[1]["updated"]["path"], "/arrived.txt");
  EXPECT_NE(lines[0]["anchor"], lines[2]["anchor"]);
}

}  // namespace
}  // namespace davfp::testing
