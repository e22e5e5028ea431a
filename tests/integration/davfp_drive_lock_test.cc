// One process at a time uses a drive: a second davfp waits for the first, naming it, or with --no-wait fails
// at once. A davfp that saves files removes the download folders that killed ones left beside them, and its
// own when it is hung up on.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>

#include "support/host_drive.h"
#include "support/served_tree.h"

namespace davfp::testing {
namespace {

using namespace std::chrono_literals;
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
  ServedTree tree{server};
  tree.file("/big.bin", "big");
  // A download that the server never answers keeps its process, and so the drive, busy.
  server.on("GET", "/dav/big.bin", FakeServer::Reply{.noAnswer = true});
  drive.publish({{kTestDomain, {kTestDriveName, server.url("/dav/")}}});
  auto killed = ChildProcess::start({"/bin/true"}, {});  // a process that is gone, as a killed davfp is
  std::filesystem::create_directory(drive.scratch() + "/.davfp-" + std::to_string(killed->pid()) + "-Ab12Cd");
  killed->finish(60s);

  auto holder = drive.startDavfp({"get", "big.bin", drive.scratch()});
  ASSERT_TRUE(waitForMethod(server, "GET")) << holder->err();
  const std::string named = "in use by process " + std::to_string(holder->pid()) + " (davfp get big.bin ";

  ProcessResult refused = drive.davfp({"--no-wait", "mkdir", "new"});
  EXPECT_EQ(refused.status, 1);
  EXPECT_TRUE(refused.err.starts_with("davfp: drive \"t\" is " + named)) << refused.err;
  EXPECT_EQ(jsonLines(drive.davfp({"anchor", "--no-wait"}).out).at(0)["error"]["code"], EBUSY);

  // Without --no-wait it waits, says for whom, and asks the server nothing until the drive is free.
  auto waiter = drive.startDavfp({"mkdir", "new"});
  ASSERT_TRUE(waiter->waitForOutput(named, true, 60s)) << waiter->err();
  for (const auto& r : server.requests()) EXPECT_NE(r.method, "MKCOL");
  holder->signal(SIGHUP);
  EXPECT_EQ(holder->finish(60s).status, 130);
  EXPECT_TRUE(std::filesystem::is_empty(drive.scratch())) << "download folders left behind";
  ProcessResult done = waiter->finish(60s);
  EXPECT_EQ(done.status, 0) << done.err;
  EXPECT_TRUE(waitForMethod(server, "MKCOL"));
}

// watch prints each change on the server once until interrupted; it holds the drive only for each pass, and
// what other commands did in between is its starting point, not news.
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
}

}  // namespace
}  // namespace davfp::testing
