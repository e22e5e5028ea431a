// The lock that keeps two processes off one thing: exclusive, named holder, waiting with a word after the
// patience runs out, a wait that can be called off, and never kept by a program the holder starts.
#include "platform/file_lock.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <future>
#include <thread>

#include "platform/error.h"
#include "support/host_process.h"
#include "support/temp_dir.h"

namespace davfp::platform {
namespace {

using namespace std::chrono_literals;
using testing::TempDir;

class FileLockTest : public ::testing::Test {
 protected:
  // Takes the lock on another thread, reporting when it starts to wait and whom it waits for.
  std::future<std::optional<FileLock>> takeInBackground(std::stop_token stop) {
    return std::async(std::launch::async, [this, stop] {
      return FileLock::take(
          path_, 0ms, [this](const FileLock::Holder& h) { waiting_.set_value(h); }, stop);
    });
  }

  TempDir dir_;
  const std::string path_ = dir_.file("state-d.lock");
  std::promise<FileLock::Holder> waiting_;
};

TEST_F(FileLockTest, OneHolderAtATimeNamedInTheFile) {
  auto first = FileLock::tryTake(path_);
  ASSERT_TRUE(first.has_value());
  struct stat st;
  ASSERT_EQ(::stat(path_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  // Another open of the file, in this process too, finds it taken until the holder lets go.
  EXPECT_FALSE(FileLock::tryTake(path_).has_value());
  first.reset();
  for (const char* text : {"garbage\n", "12", "-5\n"}) {
    SCOPED_TRACE(text);
    testing::writeFile(path_, text);
    EXPECT_EQ(FileLock::holder(path_).pid, 0);
  }
  EXPECT_THROW(FileLock::tryTake(dir_.file("missing/dir.lock")), Error);
}

TEST_F(FileLockTest, AWaiterSaysWhomItWaitsForAndTakesTheLockWhenFreeUnlessCalledOff) {
  auto held = FileLock::tryTake(path_);
  ASSERT_TRUE(held.has_value());
  std::stop_source stop;
  auto calledOff = takeInBackground(stop.get_token());
  EXPECT_EQ(waiting_.get_future().get().pid, ::getpid());
  stop.request_stop();
  EXPECT_FALSE(calledOff.get().has_value());

  waiting_ = {};
  auto taken = takeInBackground(std::stop_token{});
  waiting_.get_future().wait();
  held.reset();
  // (The wait called off may get the lock first for a moment, and lets it go at once.)
  auto lock = taken.get();
  EXPECT_TRUE(lock.has_value());
  EXPECT_FALSE(FileLock::tryTake(path_).has_value());
}

TEST_F(FileLockTest, ProgramsStartedByTheHolderDoNotKeepIt) {
  auto held = FileLock::tryTake(path_);
  ASSERT_TRUE(held.has_value());
  auto child = testing::ChildProcess::start({"/bin/sh", "-c", "echo started; exec /bin/sleep 600"}, {});
  ASSERT_TRUE(child->waitForOutput("started", false, 30s));
  held.reset();
  EXPECT_TRUE(FileLock::tryTake(path_).has_value());
}

}  // namespace
}  // namespace davfp::platform
