// State from several threads at once: changes made while a save is written share the next one.
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <thread>

#include "state/state.h"
#include "support/test_env.h"

namespace davfp {
namespace {

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
