// Mount workload: reading a 1 GiB file. The first `cat` on a freshly mounted file system with an empty cache
// (ours: a dataless file, fetched into the replica as it is read) against curl downloading it into a file and
// cat reading that; the second `cat` against reading the replica's copy of the file directly.
#include <filesystem>

#include "mount_bench.h"
#include "support/real_server.h"
#include "tree.h"

namespace davfp::bench {

namespace {

constexpr int64_t kFileSize = int64_t{1} << 30;

// The replica's copy of the big file: the one file of that size in its contents folder.
std::string replicaCopy(OurMount& ours) {
  for (const auto& entry : std::filesystem::recursive_directory_iterator(ours.contentsFolder())) {
    if (entry.is_regular_file() && static_cast<int64_t>(entry.file_size()) == kFileSize) return entry.path();
  }
  throw std::runtime_error("no copy of the file in the replica");
}

}  // namespace

void bigFileRows(const MountBench& bench) {
  std::filesystem::create_directories(bench.root + "/big");
  makeFile(bench.root + "/big/big.bin", kFileSize);
  const std::string url = bench.url("big");
  const std::string downloaded = bench.work + "/downloaded.bin";
  note("mount: reading " + formatBytes(kFileSize) + " at " + url + "big.bin");

  Samples curlAndCat, direct;
  Outcomes first, second;
  forEachRun(
      bench, bench.all(),
      [&](MountedFs& fs) {
        // The baseline runs along with ours, so that both meet the machine in the same state.
        if (&fs == bench.ours) {
          curlAndCat.add(timedShell("curl -s -f -o " + quoted(downloaded) + " " + url + "big.bin && cat " +
                                    quoted(downloaded) + " > /dev/null"));
          std::filesystem::remove(downloaded);
        }
        Mounted mounted(fs, url);
        const std::string file = quoted(fs.mountpoint() + "/big.bin");
        first[fs.label()].seconds.add(timedShell("cat " + file + " > /dev/null"));
        second[fs.label()].seconds.add(timedShell("cat " + file + " > /dev/null"));
        if (&fs == bench.ours) direct.add(timedShell("cat " + quoted(replicaCopy(*bench.ours)) + " > /dev/null"));
      },
      {&first, &second});
  note("  curl -o and cat: " + formatSeconds(curlAndCat.median()) + "; the replica's copy read directly: " +
       formatSeconds(direct.median()));

  const Outcome& ours = first["ours"];
  Row cold{.workload = "3. first cat of 1 GiB, vs curl -o + cat",
           .ours = describe(ours),
           .baseline = "curl + cat " + formatSeconds(curlAndCat.median()),
           .target = "<= 1.25"};
  if (ours.measured() && curlAndCat.size() > 0) {
    cold.ratio = formatRatio(ours.seconds.median(), curlAndCat.median());
    cold.pass = ours.seconds.median() <= 1.25 * curlAndCat.median();
  }
  emit(cold);
  emitVsPeers("3. first cat of 1 GiB, vs peers", first, 0, "-", true);

  const Outcome& again = second["ours"];
  Row warm{.workload = "3. second cat of 1 GiB, throughput",
           .ours = again.measured() ? formatRate(kFileSize / again.seconds.median()) : describe(again),
           .baseline = direct.size() > 0 ? "replica copy " + formatRate(kFileSize / direct.median()) : "-",
           .target = ">= 0.7"};
  if (again.measured() && direct.size() > 0) {
    // Throughputs: the ratio is the direct read's time over ours.
    warm.ratio = formatRatio(direct.median(), again.seconds.median());
    warm.pass = direct.median() >= 0.7 * again.seconds.median();
  }
  emit(warm);
  emitVsPeers("3. second cat of 1 GiB, vs peers", second, 0, "-", true);
  std::filesystem::remove_all(bench.root + "/big");
}

}  // namespace davfp::bench
