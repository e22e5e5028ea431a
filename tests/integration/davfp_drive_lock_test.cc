// One process at a time uses a drive: a second davfp waits for the first, naming it, or with --no-wait fails
// at once; watch holds the drive only for each pass, and what other commands did in between is its starting
// point, not overwritten by it.
#include <gtest/gtest.h>
#include <signal.h>


#include "support/dav_test_util.h"
#include "support/fake_server.h"
#include "support/host_drive.h"

namespace davfp::testing {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;
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

class DavfpWatchBesideCommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    drive_.placeOnServer("a.txt", "alpha\n");
    drive_.serve();
  }

  std::string ok(const std::vector<std::string>& args) {
    ProcessResult r = drive_.davfp(args);
    EXPECT_EQ(r.status, 0) << "davfp " << args.at(0) << "\nstdout: " << r.out << "\nstderr: " << r.err;
    return r.out;
  }
  long anchor() { return std::stol(jsonLines(ok({"anchor"})).at(0)["anchor"].get<std::string>()); }

  HostDrive drive_;
};

TEST_F(DavfpWatchBesideCommandsTest, WatchKeepsWhatOtherCommandsDidBetweenItsPasses) {
  const std::string id = jsonLines(ok({"--json", "ls", "a.txt"})).at(0)["id"];
  auto watch = drive_.startDavfp({"watch", "--interval", "1"});
  ASSERT_TRUE(watch->waitForOutput("watching", true, 60s)) << watch->err();

  // These run between watch's passes (or wait for one to end).
  EXPECT_EQ(jsonLines(ok({"--json", "mv", "a.txt", "b.txt"})).at(0)["id"], id);
  for (const char* name : {"d1", "d2", "d3", "d4"}) ok({"mkdir", name});
  const long before = anchor();

  // A change on the server: once watch has reported it, it has run a pass after all of the above.
  drive_.placeOnServer("marker.txt", "m\n");
  ASSERT_TRUE(watch->waitForOutput("new      /marker.txt\n", false, 60s)) << watch->out() << watch->err();
  EXPECT_GT(anchor(), before);
  EXPECT_EQ(jsonLines(ok({"--json", "ls", "b.txt"})).at(0)["id"], id);
  watch->signal(SIGINT);
  ProcessResult r = watch->finish(60s);
  EXPECT_EQ(r.status, 130) << r.err;  // watching ends only when interrupted
  // The drive's own changes were no news to it.
  EXPECT_EQ(r.out.find("b.txt"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("/d1"), std::string::npos) << r.out;
}

}  // namespace
}  // namespace davfp::testing
