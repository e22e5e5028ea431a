#include <gtest/gtest.h>

#include <condition_variable>
#include <fstream>
#include <iterator>
#include <mutex>
#include <thread>

#include "state/state.h"
#include "state_file_check.h"

namespace davfp {
namespace {

// Many jobs mint, move, forget and record at once, each in its own folder, and all of them mint the same
// shared paths. Afterwards every identifier is where its job left it, the maps are each other's inverse,
// no change of the anchor was lost, shared paths got one identifier each, and the file holds it all.
TEST(StateConcurrencyTest, OperationsFromManyThreadsStayConsistent) {
  constexpr int kThreads = 8;
  constexpr int kRounds = 30;
  constexpr int kShared = 5;
  testing::TestEnv env;
  State state("dom", env);

  struct Outcome {
    std::vector<std::pair<std::string, std::optional<std::string>>> items;  // identifier, expected path
    std::vector<std::string> shared;                                        // identifier of shared path i
    int advances = 0;
  };
  std::vector<Outcome> outcomes(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      Outcome& out = outcomes[t];
      std::string base = "/t" + std::to_string(t);
      for (int i = 0; i < kRounds; ++i) {
        std::string n = std::to_string(i);
        std::string f = state.id(base + "/f" + n);
        out.shared.push_back(state.id("/shared/" + std::to_string(i % kShared)));
        state.remember(base, {{base + "/f" + n, n}});
        state.move(f, base + "/f" + n, base + "/g" + n);
        state.noteChild(base + "/g" + n, n);
        auto batch = state.ids({base + "/g" + n, base + "/b" + n});
        EXPECT_EQ(batch[0], f);
        out.items.emplace_back(batch[1], base + "/b" + n);
        out.advances += 2;
        if (i % 3 == 0) {
          state.commit({.steps = {{State::Step::Kind::forget, base + "/g" + n, {}}}});
          out.items.emplace_back(f, std::nullopt);
          out.advances += 1;
        } else {
          out.items.emplace_back(f, base + "/g" + n);
        }
        EXPECT_GE(state.anchor(), 1);
        state.knownFolders();
      }
    });
  }
  for (auto& thread : threads) thread.join();

  int advances = 0;
  std::set<std::string> all;
  for (const auto& out : outcomes) {
    advances += out.advances;
    for (const auto& [id, path] : out.items) {
      all.insert(id);
      EXPECT_EQ(state.path(id), path) << id;
      if (path) {
        EXPECT_EQ(state.id(*path), id) << *path;
      }
    }
    for (int i = 0; i < kRounds; ++i) EXPECT_EQ(out.shared[i], outcomes[0].shared[i % kShared]) << i;
    all.insert(out.shared.begin(), out.shared.end());
  }
  EXPECT_EQ(all.size(), size_t{kThreads * kRounds * 2 + kShared});
  EXPECT_EQ(state.anchor(), 1 + advances);
  testing::expectFileMatches(state, env, "dom", all);
}

// While one save is written, the changes made meanwhile wait for the next, which carries them all, and an
// identifier another operation minted is handed out only once it is on the disk.
TEST(StateConcurrencyTest, ChangesMadeDuringASaveShareTheNextOne) {
  testing::TestEnv env;
  State state("dom", env);
  std::mutex mu;
  std::condition_variable cv;
  bool writing = false, go = false;
  env.onWrite = [&](const std::string&) {
    std::unique_lock lock(mu);
    if (writing) return;  // only the first save is held
    writing = true;
    cv.notify_all();
    cv.wait(lock, [&] { return go; });
  };
  std::thread minting([&] { state.id("/a"); });
  {
    std::unique_lock lock(mu);
    cv.wait(lock, [&] { return writing; });
  }
  const int64_t anchor = state.anchor();
  bool savedWhenHandedOut = false;
  std::thread reading([&] {
    state.id("/a");  // minted by the other, whose save is held
    std::ifstream file(state.file());
    savedWhenHandedOut = std::string(std::istreambuf_iterator<char>(file), {}).find("/a") != std::string::npos;
  });
  std::thread forgetting([&] { state.forget("/x"); });
  std::thread noting([&] { state.noteChild("/y", "1"); });
  while (state.anchor() != anchor + 2) std::this_thread::yield();  // both changed, and wait for a save
  {
    std::lock_guard lock(mu);
    go = true;
  }
  cv.notify_all();
  for (auto* t : {&minting, &reading, &forgetting, &noting}) t->join();
  EXPECT_TRUE(savedWhenHandedOut);
  EXPECT_EQ(env.writes, 2) << "the held save, then one for both changes made while it was written";
  EXPECT_EQ(State("dom", env).anchor(), anchor + 2);
}

}  // namespace
}  // namespace davfp
