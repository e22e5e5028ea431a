// Mount workload: how soon a file changed on the server's disk (new contents, new size) is read with its new
// contents through our mount polling every 2 seconds. The file is read every 20 ms (open, read, close: what
// cat does) until it shows the new contents; the median over 20 changes. Ours only: the peers look for
// changes once a minute (davfs2's dir_refresh) or every five (rclone's dir-cache-time).
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "background.h"
#include "mount_bench.h"
#include "support/real_server.h"
#include "support/temp_dir.h"

namespace davfp::bench {

namespace {

constexpr int kPollSeconds = 2;
constexpr int kChanges = 20;

std::string contentsOf(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

}  // namespace

void remoteChangeRows(const MountBench& bench) {
  const std::string what = "6. change on the server seen by cat, poll 2 s";
  if (!bench.ours) return emitFailure(what, "<= 3 s", "our mount cannot run here");
  const std::string folder = bench.root + "/live", served = folder + "/note.txt";
  std::filesystem::create_directories(folder);
  testing::writeFile(served, "first\n");
  note("mount: " + std::to_string(kChanges) + " changes on the server at " + bench.url("live") + "note.txt");

  Samples latency;
  try {
    Mounted mounted(*bench.ours, bench.url("live"), kPollSeconds);
    const std::string seen = bench.ours->mountpoint() + "/note.txt";
    if (contentsOf(seen) != "first\n") throw std::runtime_error("the mount does not show the file");
    for (int i = 1; i <= kChanges; ++i) {
      // Each change at another moment of the poll interval: right after a change was seen would always be
      // right after a pass, the slowest moment.
      std::this_thread::sleep_for(std::chrono::milliseconds(kPollSeconds * 1000 * i / kChanges));
      // A new size each time, written aside and renamed into place as an editor on the server would.
      std::string contents = "change " + std::to_string(i) + " " + std::string(static_cast<size_t>(i), 'z') + "\n";
      testing::writeFile(served + ".new", contents);
      std::filesystem::rename(served + ".new", served);
      bench.server->adopt(served);
      auto start = Clock::now();
      awaitStep("seeing change " + std::to_string(i), [&] { return contentsOf(seen) == contents; });
      latency.add(since(start));
    }
  } catch (const std::exception& e) {
    return emitFailure(what, "<= 3 s", e.what());
  }
  note("  slowest change seen after " + formatSeconds(latency.max()));
  emit(Row{.workload = what,
           .ours = formatSeconds(latency.median()),
           .baseline = "poll + 1 s",
           .ratio = formatRatio(latency.median(), kPollSeconds + 1.0),
           .target = "<= 3 s",
           .pass = latency.median() <= kPollSeconds + 1.0});
  emit(Row{.workload = "6. slowest of the 20 changes",
           .ours = formatSeconds(latency.max()),
           .target = "-",
           .context = true});
}

}  // namespace davfp::bench
