// davfp mount through a real kernel mount: programs nobody here wrote (find, cat, diff, stat) read the drive
// as a folder, files stay dataless until opened, and changes made on the server's disk appear. Needs root and
// /dev/fuse; without them each test is skipped, saying why.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>

#include "support/host_drive.h"
#include "support/temp_dir.h"

namespace davfp::testing {
namespace {

namespace fs = std::filesystem;

// Why the kernel cannot mount here; empty when it can.
std::string whyNoMount() {
  if (::geteuid() != 0) return "not root";
  if (::access("/dev/fuse", R_OK | W_OK) != 0) return "no usable /dev/fuse";
  if (::access("/usr/bin/fusermount3", X_OK) != 0) return "no fusermount3 (Debian package fuse3)";
  return {};
}

// Waits until done() holds, for as long as a loaded machine may need; false when it never does.
bool eventually(const std::function<bool()>& done) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return true;
}

class MountTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (auto why = whyNoMount(); !why.empty()) GTEST_SKIP() << "no kernel mount: " << why;
    drive_.placeOnServer("docs/a.txt", "alpha\n");
    drive_.placeOnServer("docs/odd # % ? é e\xCC\x81 名前.txt", "odd\n");
    drive_.placeOnServer("docs/deeper/b.bin", std::string(100000, 'b'));
    drive_.placeOnServer("top.txt", "top\n");
    drive_.serve();
    mnt_ = drive_.scratch() + "/mnt";
    fs::create_directories(mnt_);
    ProcessResult r = drive_.davfp({"mount", mnt_, "--poll", "1"});
    ASSERT_EQ(r.status, 0) << r.err;
    mounted_ = true;
  }

  void TearDown() override {
    if (!mounted_) return;
    ProcessResult r = drive_.davfp({"unmount", mnt_});
    EXPECT_EQ(r.status, 0) << r.err;
  }

  // The files the replica holds contents of.
  size_t materialised() {
    size_t n = 0;
    for (const auto& e : fs::directory_iterator(drive_.home() + "/.cache/davfp/t/contents"))
      n += e.is_regular_file();
    return n;
  }

  ProcessResult sh(const std::string& command) {
    return runProcess({"/bin/sh", "-c", command}, drive_.environment());
  }

  HostDrive drive_;
  std::string mnt_;
  bool mounted_ = false;
};

TEST_F(MountTest, ProgramsReadTheTreeAndFilesAreFetchedOnlyWhenOpened) {
  ProcessResult found = sh("cd '" + mnt_ + "' && find . -type f | LC_ALL=C sort && ls -lR . > /dev/null");
  ASSERT_EQ(found.status, 0) << found.err;
  EXPECT_EQ(found.out,
            "./docs/a.txt\n./docs/deeper/b.bin\n./docs/odd # % ? é e\xCC\x81 名前.txt\n./top.txt\n");
  EXPECT_EQ(fs::file_size(mnt_ + "/docs/deeper/b.bin"), 100000u);
  EXPECT_EQ(materialised(), 0u) << "listing and stat fetch nothing";

  EXPECT_EQ(readFile(mnt_ + "/docs/a.txt"), "alpha\n");
  EXPECT_EQ(materialised(), 1u);
  ProcessResult diff = sh("diff -r '" + drive_.served() + "' '" + mnt_ + "'");
  EXPECT_EQ(diff.status, 0) << diff.out << diff.err;
  EXPECT_EQ(materialised(), 4u);

  // Writing waits for write-back; until then the folder refuses it and changes nothing.
  ProcessResult write = sh("echo x > '" + mnt_ + "/docs/a.txt'");
  EXPECT_NE(write.status, 0);
  EXPECT_EQ(readFile(drive_.served() + "/docs/a.txt"), "alpha\n");
}

TEST_F(MountTest, ChangesOnTheServerAppear) {
  ASSERT_EQ(readFile(mnt_ + "/docs/a.txt"), "alpha\n");
  ASSERT_EQ(readFile(mnt_ + "/top.txt"), "top\n");
  ASSERT_TRUE(fs::exists(mnt_ + "/docs/deeper/b.bin"));

  drive_.placeOnServer("docs/a.txt", "alpha, changed on the server\n");
  drive_.placeOnServer("docs/new.txt", "new\n");
  fs::remove(drive_.served() + "/top.txt");
  fs::rename(drive_.served() + "/docs/deeper", drive_.served() + "/docs/renamed");

  EXPECT_TRUE(eventually([&] { return readFile(mnt_ + "/docs/a.txt") == "alpha, changed on the server\n"; }));
  EXPECT_TRUE(eventually([&] { return fs::exists(mnt_ + "/docs/new.txt"); }));
  EXPECT_TRUE(eventually([&] { return !fs::exists(mnt_ + "/top.txt"); }));
  EXPECT_TRUE(eventually([&] { return fs::exists(mnt_ + "/docs/renamed/b.bin"); }));
  EXPECT_FALSE(fs::exists(mnt_ + "/docs/deeper"));
  EXPECT_EQ(readFile(mnt_ + "/docs/new.txt"), "new\n");
}

TEST_F(MountTest, WithTheServerGoneFetchedFilesStayReadableAndOthersFailAtOnce) {
  ASSERT_EQ(readFile(mnt_ + "/docs/a.txt"), "alpha\n");
  ASSERT_TRUE(fs::exists(mnt_ + "/top.txt"));
  drive_.server().stop();

  EXPECT_EQ(readFile(mnt_ + "/docs/a.txt"), "alpha\n");
  ProcessResult dataless = sh("cat '" + mnt_ + "/top.txt'");
  EXPECT_NE(dataless.status, 0);
  EXPECT_NE(dataless.err.find("Input/output error"), std::string::npos) << dataless.err;
}

TEST_F(MountTest, ASecondMountOfTheDriveAndUnmountingAnythingElseFail) {
  const std::string other = drive_.scratch() + "/other";
  fs::create_directories(other);
  ProcessResult second = drive_.davfp({"mount", other});
  EXPECT_EQ(second.status, 1);
  EXPECT_NE(second.err.find("in use by process"), std::string::npos) << second.err;

  ProcessResult notMounted = drive_.davfp({"unmount", other});
  EXPECT_EQ(notMounted.status, 1);
  EXPECT_NE(notMounted.err.find("no drive is mounted here"), std::string::npos) << notMounted.err;
}

}  // namespace
}  // namespace davfp::testing
