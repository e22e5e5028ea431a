// Atomic writes after a process was killed in the middle of one: the temporary file it left is removed by the
// next write to the same path, and nothing else is.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "platform/env.h"
#include "support/temp_dir.h"

namespace davfp::platform {
namespace {

using testing::readFile;
using testing::TempDir;
using testing::writeFile;

std::set<std::string> namesIn(const std::string& dir) {
  std::set<std::string> out;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) out.insert(entry.path().filename());
  return out;
}

TEST(AtomicWriteTest, TheFirstWriteRemovesWhatKilledWritesLeft) {
  TempDir dir;
  const std::string path = dir.file("state-d.json");
  // What a killed writer leaves: its temporary file, whole or in part. Other files only look alike.
  for (const char* name : {"state-d.json.tmp-a1B2c3", "state-d.json.tmp-ZZZZZZ", "state-d.json.tmp-short",
                           "state-d.json.tmp-toolong", "state-e.json.tmp-a1B2c3", "state-d.json.old"}) {
    writeFile(dir.file(name), "partial");
  }
  Env::standard().writeFileAtomically(path, "first");
  EXPECT_EQ(namesIn(dir.path()),
            (std::set<std::string>{"state-d.json", "state-d.json.tmp-short", "state-d.json.tmp-toolong",
                                   "state-e.json.tmp-a1B2c3", "state-d.json.old"}));
  EXPECT_EQ(readFile(path), "first");

  // Later writes of this process find nothing to remove: its own writes leave nothing.
  writeFile(dir.file("state-d.json.tmp-x1y2z3"), "another process's write in progress");
  Env::standard().writeFileAtomically(path, "second");
  EXPECT_TRUE(namesIn(dir.path()).contains("state-d.json.tmp-x1y2z3"));
  EXPECT_EQ(readFile(path), "second");

  // A replace that fails (the name is a folder's) is reported and leaves no temporary file behind.
  std::filesystem::create_directories(dir.file("taken/inside"));
  EXPECT_ANY_THROW(Env::standard().writeFileAtomically(dir.file("taken"), "third"));
  EXPECT_EQ(namesIn(dir.path()).size(), 7u);
}

}  // namespace
}  // namespace davfp::platform
