// The replica's trash: a copy put there leaves its place at once, and whatever the folder holds, left by a
// crash or put since, is gone once the trash ends.
#include "mount/trash.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/temp_dir.h"

namespace davfp::mount {
namespace {

namespace fs = std::filesystem;

TEST(TrashTest, CopiesLeaveAtOnceAndAreGoneWhenItEnds) {
  testing::TempDir dir;
  const std::string folder = dir.file("trash");
  fs::create_directories(folder);
  testing::writeFile(folder + "/left", "left by a crash");
  testing::writeFile(dir.file("copy"), "contents");
  {
    Trash trash(folder);
    trash.put(dir.file("copy"));
    EXPECT_FALSE(fs::exists(dir.file("copy")));
    trash.put(dir.file("never there"));
  }
  EXPECT_TRUE(fs::is_empty(folder));
}

}  // namespace
}  // namespace davfp::mount
