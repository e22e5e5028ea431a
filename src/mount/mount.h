// runMount: one drive as a folder, for as long as it stays mounted. It opens the drive's replica and journal,
// mounts the file system at the mount point, runs a change pass of the working set every poll interval (and
// lists nothing until a program looks), and returns once the file system is unmounted: by `davfp unmount`,
// fusermount3 -u, umount, or stop being requested.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <stop_token>
#include <string>

#include "client/platform_client.h"

namespace davfp::mount {

struct MountOptions {
  std::string domain;
  std::string mountpoint;
  std::chrono::seconds poll{10};
  // Where the replica lies; the user's cache folder when empty.
  std::string replica;
  // The most the replica's copies may take; 0: a tenth of its file system, at most 20 GiB.
  int64_t cacheMax = 0;
  bool verbose = false;  // a line on stderr for each transfer and failure
  bool debug = false;    // libfuse's request log
};

// ready: called once the file system is mounted. Throws platform::Error when it cannot be mounted.
void runMount(client::PlatformClient& platform, const MountOptions& options, std::stop_token stop,
              const std::function<void()>& ready);

}  // namespace davfp::mount
