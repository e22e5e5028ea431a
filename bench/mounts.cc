#include "mounts.h"

#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "background.h"
#include "child_process.h"
#include "summary.h"

namespace davfp::bench {

namespace fs = std::filesystem;

namespace {

constexpr auto kMountTimeout = std::chrono::seconds(30);
constexpr auto kReleaseTimeout = std::chrono::minutes(10);

}  // namespace

std::string whyNoMount() {
  if (::geteuid() != 0) return "not root";
  if (::access("/dev/fuse", R_OK | W_OK) != 0) return "no usable /dev/fuse";
  if (::access("/usr/bin/fusermount3", X_OK) != 0) return "no fusermount3 (Debian package fuse3)";
  return {};
}

MountedFs::MountedFs(std::string label, std::string dir)
    : label_(std::move(label)), dir_(std::move(dir)), mountpoint_(dir_ + "/mnt"), log_(dir_ + "/log.txt") {
  fs::create_directories(mountpoint_);
}

MountedFs::~MountedFs() = default;

void MountedFs::awaitMounted(Background* process) {
  bool mounted = waitUntil([&] { return isMountPoint(mountpoint_) || (process && !process->running()); },
                           kMountTimeout);
  if (!mounted || !isMountPoint(mountpoint_)) {
    throw std::runtime_error(label_ + " did not mount " + mountpoint_ + ": " + logTail());
  }
}

void MountedFs::release(const std::vector<std::string>& program, Background* process, pid_t pid) {
  auto ended = [&] { return process ? !process->running() : (pid <= 0 || ::kill(pid, 0) != 0); };
  // A folder still busy for a moment (a program that just closed it) lets go at a second try.
  for (int attempt = 0; attempt < 20 && isMountPoint(mountpoint_); ++attempt) {
    try {
      if (runChild(ChildSpec{.argv = program}).exitStatus == 0) break;
    } catch (const std::exception& e) {
      note("  " + label_ + ": " + e.what());
    }
    ::usleep(250'000);
  }
  if (!waitUntil(ended, kReleaseTimeout)) {
    note("  " + label_ + ": its process did not end after unmounting; killed");
    if (process) process->signal(SIGKILL);
    else if (pid > 0) ::kill(pid, SIGKILL);
    waitUntil(ended, std::chrono::seconds(10));
  }
  if (isMountPoint(mountpoint_)) {
    note("  " + label_ + ": " + mountpoint_ + " still mounted; detached");
    try {
      runChild(ChildSpec{.argv = {"umount", "-l", mountpoint_}});
    } catch (const std::exception&) {
      // Nothing more can be done about a mount the kernel keeps; the workload goes on with the others.
    }
  }
}

void MountedFs::removeTree(const std::string& path) {
  std::error_code ignored;
  fs::remove_all(path, ignored);
}

std::string MountedFs::logTail() const {
  std::ifstream in(log_);
  std::stringstream text;
  text << in.rdbuf();
  std::string all = text.str();
  return all.size() > 2000 ? all.substr(all.size() - 2000) : all;
}

}  // namespace davfp::bench
