#include <gtest/gtest.h>

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

}  // namespace
}  // namespace davfp
