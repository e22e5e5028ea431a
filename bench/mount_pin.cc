// Mount workload: keeping a folder offline. `davfp pin` of a folder of 1,000 files of 64 KiB on a freshly
// mounted drive (every file dataless), until every file is in the replica, against `rclone copy` of the same
// folder into a local one through its WebDAV backend.
#include <filesystem>

#include "mount_bench.h"
#include "support/real_server.h"
#include "support/temp_dir.h"
#include "tree.h"

namespace davfp::bench {

namespace {

constexpr int kFiles = 1000;
constexpr int64_t kFileSize = 64 << 10;

}  // namespace

void pinRows(const MountBench& bench) {
  const std::string served = bench.root + "/pinned";
  std::filesystem::create_directories(served);
  for (int i = 0; i < kFiles; ++i) makeFile(served + "/" + std::to_string(i) + ".bin", kFileSize);
  const std::string url = bench.url("pinned");
  note("mount: pinning " + std::to_string(kFiles) + " files of " + formatBytes(kFileSize) + " at " + url);

  Samples ours, rclone;
  const std::string copied = bench.work + "/copied", config = bench.work + "/rclone-copy.conf";
  for (int run = 0; run < bench.runs && bench.ours; ++run) {
    {
      Mounted mounted(*bench.ours, bench.server->baseUrl());
      ours.add(bench.ours->command({"pin", "/pinned"}));
    }
    std::filesystem::remove_all(copied);
    testing::writeFile(config, "");
    std::string command = "rclone copy :webdav: " + quoted(copied) + " --webdav-url " + quoted(url) +
                          " --config " + quoted(config) + " --cache-dir " + quoted(bench.work + "/rclone-cache");
    try {
      rclone.add(timedShell(command));
    } catch (const std::exception& e) {
      note("  rclone copy failed: " + std::string(e.what()));
    }
    std::filesystem::remove_all(copied);
  }
  std::filesystem::remove_all(served);

  Row row{.workload = "8. pin a folder of 1,000 files of 64 KiB, vs rclone copy",
          .ours = ours.size() > 0 ? formatSeconds(ours.median()) : "not measured",
          .baseline = rclone.size() > 0 ? "rclone copy " + formatSeconds(rclone.median()) : "-",
          .target = "<= 1.3"};
  if (ours.size() > 0 && rclone.size() > 0) {
    row.ratio = formatRatio(ours.median(), rclone.median());
    row.pass = ours.median() <= 1.3 * rclone.median();
  }
  emit(row);
}

}  // namespace davfp::bench
