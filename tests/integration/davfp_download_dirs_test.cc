// The davfp program's private download folders next to the files it saves: a davfp that is hung up on
// removes its own as one that is interrupted does; one killed outright cannot, and the next download into
// that folder removes what it left, but never the folder of a process that still runs.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <set>

#include "support/fake_server.h"
#include "support/host_drive.h"
#include "support/served_tree.h"

namespace davfp::testing {
namespace {

namespace fs = std::filesystem;

// The names of the download folders in dir.
std::set<std::string> downloadFolders(const std::string& dir) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) {
    std::string name = entry.path().filename().string();
    if (name.starts_with(".davfp-")) names.insert(name);
  }
  return names;
}

TEST(DavfpDownloadFoldersTest, HangUpRemovesThemAndTheNextGetRemovesThoseOfKilledProcesses) {
  HostDrive drive;
  FakeServer server;
  ServedTree tree(server);
  tree.file("/stuck.bin", std::string(1000, 's'));
  tree.file("/small.txt", "small\n");
  server.on("GET", "/dav/stuck.bin", {.noAnswer = true});  // a download that never ends
  drive.publish({{kTestDomain, {kTestDriveName, server.url("/dav/")}}});
  const std::string into = drive.scratch() + "/";
  // The folder of a process that runs (this test's) with a download in it.
  const std::string running = ".davfp-" + std::to_string(::getpid()) + "-Ab12Cd";
  fs::create_directory(into + running);
  writeFile(into + running + "/partial", "p");

  struct Case {
    int signal;
    int status;
    bool leftBehind;
  } cases[] = {{SIGHUP, 130, false}, {SIGKILL, 128 + SIGKILL, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(strsignal(c.signal));
    server.clearRequests();
    auto get = drive.startDavfp({"get", "stuck.bin", into});
    // Signalled while its GET waits for an answer: its download folder exists then.
    for (size_t n = 1;; ++n) {
      ASSERT_TRUE(server.waitForRequests(n)) << get->err();
      auto requests = server.requests();
      if (requests.back().method == "GET") break;
    }
    EXPECT_EQ(downloadFolders(into).size(), 2u);
    get->signal(c.signal);
    EXPECT_EQ(get->finish(std::chrono::seconds(60)).status, c.status);
    EXPECT_EQ(downloadFolders(into).size(), c.leftBehind ? 2u : 1u);
  }

  ProcessResult r = drive.davfp({"get", "small.txt", into});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(readFile(into + "small.txt"), "small\n");
  EXPECT_EQ(downloadFolders(into), std::set<std::string>{running});
  EXPECT_EQ(readFile(into + running + "/partial"), "p");
}

}  // namespace
}  // namespace davfp::testing
