// RcloneMount: rclone's FUSE mount of the WebDAV server, as a child of the benchmark in the foreground.
#include <unistd.h>

#include <filesystem>

#include "background.h"
#include "mounts.h"
#include "support/temp_dir.h"

namespace davfp::bench {

RcloneMount::RcloneMount(const std::string& dir, std::string mode)
    : MountedFs("rclone " + mode, dir), mode_(std::move(mode)) {
  testing::writeFile(dir_ + "/rclone.conf", "");
}

RcloneMount::~RcloneMount() { unmount(); }

std::string RcloneMount::unavailable() const {
  if (::access("/usr/bin/rclone", X_OK) != 0) return "rclone is not installed";
  return whyNoMount();
}

void RcloneMount::mount(const std::string& url, int /*pollSeconds*/) {
  const std::string cache = dir_ + "/cache";
  removeTree(cache);
  process_ = std::make_unique<Background>(
      std::vector<std::string>{"rclone", "mount", ":webdav:", mountpoint_, "--webdav-url", url, "--config",
                               dir_ + "/rclone.conf", "--cache-dir", cache, "--vfs-cache-mode", mode_},
      std::map<std::string, std::string>{}, log_);
  awaitMounted(process_.get());
}

void RcloneMount::unmount() {
  if (!process_) return;
  release({"fusermount3", "-u", mountpoint_}, process_.get(), -1);
  process_.reset();
}

pid_t RcloneMount::process() const { return process_ ? process_->pid() : -1; }

}  // namespace davfp::bench
