// The process killed (SIGKILL) at random moments while write-back requests run: a program that plays the
// platform and sends requests in a loop is started again and again against one server and one state file,
// and killed each time after a random while. After every kill the state file loads, and every path it holds
// (identifiers, remembered folders and their children) is one that the server had at some moment, or one that
// the server's moves made of such a path.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "support/served_tree.h"
#include "state/state_file.h"
#include "support/host_drive.h"

namespace davfp::testing {
namespace {

namespace fs = std::filesystem;

constexpr const char* kDomain = "killed-drive";

constexpr int kKills = 200;

// Every path the tree had at some moment, recorded by the tree at each change as it happens; and every path
// that a MOVE of the tree made of one of them. The state may hold such a path although the server never had
// it: an item that left the server unseen (a process killed while deleting a folder member by member, or
// after a MOVE before saving it) keeps its identifier and its snapshot entry until a change pass lists its
// folder and reports it deleted. When its folder is moved meanwhile, it moves along: it is then where it
// would be had it still been there.
class History {
 public:
  explicit History(ServedTree& tree) : tree_(tree) {
    record(tree.paths());
    tree.afterEachChange([this](const ServedTree::Change& change) {
      if (change.moved) follow(change.moved->first, change.moved->second);
      record(change.paths);
    });
  }
  ~History() { tree_.afterEachChange(nullptr); }
  bool had(const std::string& path) const {
    std::lock_guard lock(mu_);
    return path == "/" || seen_.contains(path);
  }

 private:
  void record(const std::vector<std::string>& paths) {
    std::lock_guard lock(mu_);
    seen_.insert(paths.begin(), paths.end());
  }
  // Adds where the move from -> to took every path seen under from.
  void follow(const std::string& from, const std::string& to) {
    std::lock_guard lock(mu_);
    std::vector<std::string> moved;
    for (const auto& path : seen_) {
      if (path == from || path.starts_with(from + "/")) moved.push_back(to + path.substr(from.size()));
    }
    seen_.insert(moved.begin(), moved.end());
  }

  ServedTree& tree_;
  mutable std::mutex mu_;
  std::set<std::string> seen_;  // guarded by mu_
};

// Checks the state file as a killed process left it; returns how many paths it holds.
size_t checkStateFile(const std::string& file, const History& history) {
  if (!fs::exists(file)) return 0;  // killed before its first save
  auto disk = decodeState(readFile(file));
  EXPECT_TRUE(disk.has_value()) << "the state file does not load";
  if (!disk) return 0;
  size_t paths = disk->ids.size();
  for (const auto& [id, path] : disk->ids) EXPECT_TRUE(history.had(path)) << "identifier " << id << ": " << path;
  for (const auto& [folder, children] : disk->listed) {
    EXPECT_TRUE(history.had(folder)) << "remembered folder " << folder;
    for (const auto& [child, version] : children) EXPECT_TRUE(history.had(child)) << "child " << child;
    paths += children.size();
  }
  return paths;
}

// Waits until the state file holds something other than before: the loop has saved since. Bounded, so that a
// loop that never saves fails the test instead of hanging it.
bool waitForSave(const std::string& file, const std::string& before) {
  for (int i = 0; i < 120'000; ++i) {
    if (fs::exists(file) && readFile(file) != before) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return false;
}

TEST(KilledProcessTest, TheStateAlwaysLoadsAndHoldsOnlyPathsTheServerHad) {
  FakeServer server;
  ServedTree tree{server};  // stops the server before it goes
  tree.folder("/d0");
  tree.file("/f0", "zero");
  tree.file("/d0/f1", "one");
  History history(tree);

  HostDrive home;  // a private home publishing the drive, where the loop's extension finds it
  home.publish({{kDomain, {"Killed", server.url("/dav/")}}});
  const std::vector<std::string> env = home.environment();
  const std::string stateDir = home.stateHome() + "/org.davfp.host.extension";
  const std::string stateFile = stateDir + "/" + stateFileName(kDomain);

  const unsigned seed = std::random_device()();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 rng(seed);
  size_t changed = 0, largest = 0;
  std::string previous;
  for (int kill = 0; kill < kKills; ++kill) {
    auto loop = ChildProcess::start({DAVFP_WRITEBACK_LOOP, kDomain, std::to_string(rng())}, env);
    // A random moment, counted in the loop's own progress so that a slow machine kills as late in the work as
    // a fast one: after a random number of requests have reached the server (none: often before the first
    // save), then a little more, often in the middle of a request or of a save.
    const size_t requests = std::uniform_int_distribution<size_t>(0, 12)(rng);
    if (requests > 0) {
      ASSERT_TRUE(server.waitForRequests(requests)) << "the loop stopped sending";
    }
    // Every fourth kill comes after a save, however slow the machine: the kills must land on a state that
    // moves, not only before the first save.
    if (kill % 4 == 0) {
      ASSERT_TRUE(waitForSave(stateFile, previous)) << "the loop saved nothing";
    }
    std::this_thread::sleep_for(std::chrono::microseconds(std::uniform_int_distribution<int>(0, 3'000)(rng)));
    loop->signal(SIGKILL);
    ASSERT_EQ(loop->finish(std::chrono::seconds(30)).status, 128 + SIGKILL) << "the loop ended by itself";
    SCOPED_TRACE("after kill " + std::to_string(kill + 1));
    largest = std::max(largest, checkStateFile(stateFile, history));
    if (fs::exists(stateFile)) {
      std::string now = readFile(stateFile);
      changed += now != previous;
      previous = std::move(now);
    }
    server.clearRequests();
    if (::testing::Test::HasFatalFailure()) return;
  }
  // The requests made progress across the kills, and the state grew with them.
  EXPECT_GE(changed, kKills / 4);
  EXPECT_GT(largest, 3u);

  // After all of that, the domain still works from its state: a run to its end.
  EXPECT_EQ(runProcess({DAVFP_WRITEBACK_LOOP, kDomain, "1", "50"}, env).status, 0);
  checkStateFile(stateFile, history);

  // Kills in the middle of a save leave no piece of it behind.
  for (const auto& entry : fs::directory_iterator(stateDir)) EXPECT_EQ(entry.path(), stateFile);
}

}  // namespace
}  // namespace davfp::testing
