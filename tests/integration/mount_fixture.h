// The fixture of the mount's tests: a drive served by a real server and mounted by davfp at a folder of its
// scratch space, unmounted again when a test ends. Needs root and /dev/fuse; without them each test is
// skipped, saying why.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "support/host_drive.h"
#include "support/temp_dir.h"

namespace davfp::testing {

// Waits until done() holds, for as long as a loaded machine may need; false when it never does.
inline bool eventually(const std::function<bool()>& done) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return true;
}

class MountFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    if (auto why = whyNoKernelMount(); !why.empty()) GTEST_SKIP() << "no kernel mount: " << why;
  }

  void TearDown() override {
    if (mounted_) unmount();
  }

  void serveAndMount(ServerKind kind = ServerKind::rclone, const std::vector<std::string>& options = {}) {
    drive_.serve(kind);
    mnt_ = drive_.scratch() + "/mnt";
    std::filesystem::create_directories(mnt_);
    mount(options);
  }

  void mount(const std::vector<std::string>& options = {}) {
    std::vector<std::string> args = {"mount", mnt_, "--poll", "1"};
    args.insert(args.end(), options.begin(), options.end());
    ProcessResult r = drive_.davfp(args);
    ASSERT_EQ(r.status, 0) << r.err;
    mounted_ = true;
  }

  // Unmounts, which returns once the mount's process has sent what it held and ended.
  void unmount() {
    ProcessResult r = drive_.davfp({"unmount", mnt_});
    EXPECT_EQ(r.status, 0) << r.err;
    mounted_ = false;
  }

  ProcessResult sh(const std::string& command) {
    return runProcess({"/bin/sh", "-c", command}, drive_.environment());
  }
  // Runs a shell command that must succeed.
  void ok(const std::string& command) {
    ProcessResult r = sh(command);
    ASSERT_EQ(r.status, 0) << command << "\n" << r.out << r.err;
  }

  std::string served(const std::string& relative) { return drive_.served() + "/" + relative; }
  std::string inMount(const std::string& relative) { return mnt_ + "/" + relative; }

  // The value getfattr reads, or its error message.
  std::string attribute(const std::string& relative, const std::string& name) {
    ProcessResult r = sh("getfattr --only-values -n " + name + " '" + inMount(relative) + "'");
    return r.status == 0 ? r.out : r.err;
  }
  std::string state(const std::string& relative) { return attribute(relative, "user.davfp.state"); }
  long long blocks(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? static_cast<long long>(st.st_blocks) : -1;
  }

  // The files the replica holds contents of.
  std::vector<std::string> replica() {
    std::vector<std::string> files;
    for (const auto& e : std::filesystem::directory_iterator(drive_.home() + "/.cache/davfp/t/contents")) {
      if (e.is_regular_file()) files.push_back(e.path());
    }
    return files;
  }

  HostDrive drive_;
  std::string mnt_;
  bool mounted_ = false;
};

}  // namespace davfp::testing
