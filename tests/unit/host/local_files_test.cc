#include "host/local_files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

#include "host/download_dirs.h"
#include "host/failure.h"
#include "support/temp_dir.h"

namespace davfp::cli {
namespace {

using davfp::testing::TempDir;

int errorOf(const std::function<void()>& check) {
  try {
    check();
  } catch (const Failure& f) {
    return static_cast<int>(f.error.code());
  }
  return 0;
}

TEST(LocalFilesTest, DestinationsAreCheckedBeforeAnythingIsFetched) {
  TempDir tmp;
  davfp::testing::writeFile(tmp.file("file"), "x");
  std::filesystem::create_directory(tmp.file("dir"));
  std::filesystem::create_symlink("loop b", tmp.file("loop a"));
  std::filesystem::create_symlink("loop a", tmp.file("loop b"));
  struct Case {
    std::string dest;
    int error;
  } cases[] = {
      {tmp.file("new"), 0},
      {tmp.file("file"), 0},
      {tmp.file("dir"), EISDIR},
      {tmp.file("missing/new"), ENOENT},
      {tmp.file("file/new"), ENOTDIR},
      {tmp.file("loop a"), ELOOP},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.dest);
    EXPECT_EQ(errorOf([&] { checkWritableDestination(c.dest); }), c.error);
  }
  EXPECT_EQ(errorOf([&] { readableFileSize(tmp.file("dir")); }), EISDIR);
}

TEST(LocalFilesTest, APlacedFileReplacesTheOldOneWithOrdinaryPermissions) {
  TempDir tmp;
  davfp::testing::writeFile(tmp.file("fetched"), "new");
  ::chmod(tmp.file("fetched").c_str(), 0600);
  davfp::testing::writeFile(tmp.file("dest"), "old");
  mode_t old = ::umask(022);
  placeFile(tmp.file("fetched"), tmp.file("dest"));
  ::umask(old);
  EXPECT_EQ(davfp::testing::readFile(tmp.file("dest")), "new");
  EXPECT_FALSE(davfp::testing::fileExists(tmp.file("fetched")));
  struct stat st;
  ASSERT_EQ(::stat(tmp.file("dest").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
}

TEST(LocalFilesTest, APlacedFileFollowsLinksAndWritesFifosInPlace) {
  TempDir tmp;
  std::filesystem::create_directory(tmp.file("elsewhere"));
  davfp::testing::writeFile(tmp.file("elsewhere/target"), "old");
  std::filesystem::create_symlink("elsewhere/target", tmp.file("link"));
  std::filesystem::create_symlink("link", tmp.file("link to link"));
  // The download waits beside the file the link leads to, so that the rename there is atomic, and the link stays.
  EXPECT_EQ(stagingDirectoryFor(tmp.file("link to link")), tmp.file("elsewhere"));
  davfp::testing::writeFile(tmp.file("fetched"), "new");
  placeFile(tmp.file("fetched"), tmp.file("link to link"));
  EXPECT_TRUE(std::filesystem::is_symlink(tmp.file("link to link")));
  EXPECT_EQ(davfp::testing::readFile(tmp.file("elsewhere/target")), "new");

  // A FIFO is written to, not replaced; the reader gets the contents.
  ASSERT_EQ(::mkfifo(tmp.file("fifo").c_str(), 0600), 0);
  EXPECT_TRUE(writtenInPlace(tmp.file("fifo")));
  std::string read;
  std::thread reader([&] { read = davfp::testing::readFile(tmp.file("fifo")); });
  davfp::testing::writeFile(tmp.file("fetched"), "through the pipe");
  placeFile(tmp.file("fetched"), tmp.file("fifo"));
  reader.join();
  EXPECT_EQ(read, "through the pipe");
  EXPECT_TRUE(std::filesystem::is_fifo(tmp.file("fifo")));
}

// Only folders whose name names a process that is gone are leftovers; anything else stays.
TEST(LocalFilesTest, OnlyDownloadFoldersOfProcessesThatAreGoneAreRemoved) {
  TempDir tmp;
  pid_t gone = ::fork();
  if (gone == 0) ::_exit(0);
  ASSERT_GT(gone, 0);
  ASSERT_EQ(::waitpid(gone, nullptr, 0), gone);
  const std::string dead = ".davfp-" + std::to_string(gone) + "-";
  struct Case {
    std::string name;
    bool removed;
  } cases[] = {
      {dead + "Ab12Cd", true},
      {".davfp-1-Ab12Cd", false},  // init runs (of another user: kill() is refused, not answered "none")
      {".davfp-Ab12Cd", false},    // names no process, as those of older versions
      {dead + "toolong", false},
  };
  for (const auto& c : cases) std::filesystem::create_directory(tmp.file(c.name));
  std::filesystem::create_directory_symlink(tmp.path(), tmp.file(dead + "isLink"));
  removeAbandonedDownloadDirectories(tmp.path());
  for (const auto& c : cases) EXPECT_EQ(davfp::testing::fileExists(tmp.file(c.name)), !c.removed) << c.name;
  EXPECT_TRUE(std::filesystem::is_symlink(tmp.file(dead + "isLink")));
}

}  // namespace
}  // namespace davfp::cli
