// Mount workload: memory at 100,000 files (1,000 folders of 100). On a freshly mounted file system, a cold
// `ls -lR`, then the peak resident set (VmHWM) of the process serving the folder; for ours also the journal's
// size on disk per item it knows. One run each: a peak is a maximum, not a median.
#include <filesystem>

#include "background.h"
#include "mount_bench.h"
#include "mount_tree.h"

namespace davfp::bench {

namespace {

constexpr int kFolders = 1000, kFilesPerFolder = 100;
constexpr double kMemoryLimit = 128.0 * 1024 * 1024;
constexpr double kJournalBytesPerItem = 300;

}  // namespace

void memoryRows(const MountBench& bench) {
  const std::string served = bench.root + "/huge";
  makeTree(served, kFolders, kFilesPerFolder);
  const std::string url = bench.url("huge");
  note("mount: memory after ls -lR of 100,000 files at " + url);

  std::map<std::string, double> peak;
  Outcomes listing;
  double journalPerItem = 0;
  long items = 0;
  MountBench once = bench;
  once.runs = 1;
  forEachRun(
      once, bench.all(),
      [&](MountedFs& fs) {
        Mounted mounted(fs, url);
        listing[fs.label()].seconds.add(timedShell("ls -lR " + quoted(fs.mountpoint())));
        peak[fs.label()] = peakResidentBytes(fs.process());
        if (&fs == bench.ours) {
          items = bench.ours->status().items;
          if (items > 0) journalPerItem = bench.ours->journalBytes() / static_cast<double>(items);
        }
      },
      {&listing});
  std::filesystem::remove_all(served);

  std::string peers;
  for (const auto& [label, bytes] : peak) {
    if (label != "ours") peers += (peers.empty() ? "" : ", ") + label + " " + formatBytes(bytes);
  }
  if (!peak.contains("ours")) {
    emitFailure("7. peak memory of the mount, 100,000 files", "< 128 MiB", "not measured: " + describe(listing["ours"]));
  } else {
    emit(Row{.workload = "7. peak memory of the mount after ls -lR, 100,000 files",
             .ours = formatBytes(peak["ours"]),
             .baseline = peers.empty() ? "-" : peers,
             .target = "< 128 MiB",
             .pass = peak["ours"] > 0 && peak["ours"] < kMemoryLimit});
    emit(Row{.workload = "7. journal on disk per item, 100,000 files",
             .ours = std::to_string(static_cast<long>(journalPerItem)) + " B",
             .baseline = std::to_string(items) + " items",
             .target = "< 300 B",
             .pass = journalPerItem > 0 && journalPerItem < kJournalBytesPerItem});
  }
  emitVsPeers("7. ls -lR of 100,000 files, cold", listing, 0, "-", true);
}

}  // namespace davfp::bench
