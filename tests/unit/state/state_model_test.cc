// State under load: against a plain reference of its identifiers through long random sequences of minting,
// moving and forgetting (identifiers erased and their room reused, text dropped and compacted), the file
// reloaded and compared now and then; and from many threads at once, saves shared by what waits for them.
#include <gtest/gtest.h>

#include <condition_variable>
#include <filesystem>
#include <map>
#include <mutex>
#include <random>
#include <thread>

#include "state/state.h"
#include "state_file_check.h"

namespace davfp {
namespace {

using platform::canonicalEqual;
using platform::nfc;

// Paths one to three deep over few names, each spelled composed or decomposed.
std::string randomPath(std::mt19937& rng) {
  static const char* const names[] = {"a", "b", "caf\u00e9", "cafe\u0301", "d"};
  std::string path;
  for (int depth = 1 + static_cast<int>(rng() % 3); depth > 0; --depth)
    path += std::string("/") + names[rng() % 5];
  return path;
}

// Saves into a new file, neither flushed nor replacing one (ext4 flushes a file that replaces or truncates
// another), which would only slow a thousand saves down here.
class UnsyncedEnv : public testing::TestEnv {
  void writeFileAtomically(const std::string& path, std::string_view bytes) override {
    std::filesystem::remove(path);
    testing::writeFile(path, std::string(bytes));
  }
};

bool under(const std::string& path, const std::string& folder) {
  std::string p = nfc(path), f = nfc(folder);
  return p == f || p.starts_with(f + "/");
}

TEST(StateModelTest, IdentifiersFollowMovesAndForgetsAndReloadTheSame) {
  UnsyncedEnv env;
  State state("dom", env);
  std::mt19937 rng(11);
  std::map<std::string, std::string> model;  // identifier -> path, compared canonically
  std::set<std::string> handedOut;
  auto mint = [&](const std::string& path, const std::string& id) {
    handedOut.insert(id);
    if (auto known = model.find(id); known != model.end()) {
      EXPECT_TRUE(canonicalEqual(known->second, path)) << id << " is " << known->second;
    } else {
      for (const auto& [other, p] : model) EXPECT_FALSE(canonicalEqual(p, path)) << path << " had " << other;
      model.emplace(id, path);
    }
  };
  for (int step = 0; step < 1500; ++step) {
    std::string path = randomPath(rng), other = randomPath(rng);
    int op = static_cast<int>(rng() % 7);
    SCOPED_TRACE("step " + std::to_string(step) + " op " + std::to_string(op) + " " + path + " " + other);
    switch (op) {
      case 0:
      case 1:
        mint(path, state.id(path));
        break;
      case 2: {
        std::vector<std::string> paths{path, other, path + "/x"};
        auto ids = state.commit({.mint = {paths.begin(), paths.end()}});
        for (size_t i = 0; i < paths.size(); ++i) mint(paths[i], ids[i]);
        break;
      }
      case 3:
        state.move("", path, other);
        for (auto& [id, p] : model) {
          if (under(p, path)) p = nfc(other) + nfc(p).substr(nfc(path).size());
        }
        break;
      case 4:
        if (rng() % 3 == 0) {  // forgetting is drastic here: now and then only
          state.forget(path);
          std::erase_if(model, [&](const auto& m) { return under(m.second, path); });
        }
        break;
      case 5:
        state.remember(path, {{path + "/a", "A"}, {other, "O"}});
        break;
      case 6:
        state.noteChild(path, std::to_string(step));
        break;
    }
    for (const auto& [id, p] : model) {
      auto got = state.path(id);
      ASSERT_TRUE(got) << id << " was lost";
      ASSERT_TRUE(canonicalEqual(*got, p)) << id << " is at " << *got << ", not " << p;
      auto found = state.existingId(p);
      ASSERT_TRUE(found) << p;
      ASSERT_TRUE(canonicalEqual(model.at(*found), p)) << p << " finds " << *found;
    }
    for (const auto& id : handedOut) {
      if (!model.contains(id)) {
        ASSERT_EQ(state.path(id), std::nullopt) << id << " was forgotten";
      }
    }
    if (step % 250 == 0) testing::expectFileMatches(state, env, "dom", handedOut);
  }
  testing::expectFileMatches(state, env, "dom", handedOut);
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
    savedWhenHandedOut = testing::readFile(state.file()).find("/a") != std::string::npos;
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
