// Mount workloads that write: `cp` of a 1 GiB local file into the folder, and `tar x` then `rm -r` of 2,000
// small files in 100 folders, each timed until the server's disk holds the result (for ours, also until the
// mount says that nothing is pending). The served folder is polled every 20 ms. Baseline for the big file:
// a local `cp` and `curl -T` of the copy; for the small files, the faster peer.
#include <filesystem>

#include "mount_bench.h"
#include "mount_tree.h"
#include "support/real_server.h"
#include "tree.h"

namespace davfp::bench {

namespace fs = std::filesystem;

namespace {

constexpr int64_t kFileSize = int64_t{1} << 30;
constexpr int kFolders = 100, kFilesPerFolder = 20;

int64_t sizeOrZero(const std::string& path) {
  std::error_code ec;
  auto size = fs::file_size(path, ec);
  return ec ? 0 : static_cast<int64_t>(size);
}

}  // namespace

void writeBackRows(const MountBench& bench) {
  const std::string local = bench.work + "/local.bin", copy = bench.work + "/copy.bin";
  const std::string servedFolder = bench.root + "/up", served = servedFolder + "/up.bin";
  fs::create_directories(servedFolder);
  makeFile(local, kFileSize);
  const std::string url = bench.url("up");
  note("mount: writing " + formatBytes(kFileSize) + " back to " + url);

  Samples curl;
  Outcomes written;
  forEachRun(
      bench, bench.all(),
      [&](MountedFs& fs) {
        if (&fs == bench.ours) {
          curl.add(timedShell("cp " + quoted(local) + " " + quoted(copy) + " && curl -s -f -T " + quoted(copy) +
                              " " + url + "up.bin"));
          if (sizeOrZero(served) != kFileSize) throw std::runtime_error("curl -T left the file incomplete");
          fs::remove(copy);
          fs::remove(served);
        }
        {
          Mounted mounted(fs, url);
          auto start = Clock::now();
          timedShell("cp " + quoted(local) + " " + quoted(fs.mountpoint() + "/up.bin"));
          awaitStep(fs.label() + " sending the file", [&] { return sizeOrZero(served) == kFileSize; });
          awaitStep(fs.label() + " settling", [&] { return fs.settled(); });
          written[fs.label()].seconds.add(since(start));
        }
        fs::remove(served);
      },
      {&written});
  fs::remove(local);
  note("  cp and curl -T: " + formatSeconds(curl.median()));

  const Outcome& ours = written["ours"];
  Row row{.workload = "4. cp 1 GiB into the folder until on the server, vs cp + curl -T",
          .ours = describe(ours),
          .baseline = "cp + curl " + formatSeconds(curl.median()),
          .target = "<= 1.3"};
  if (ours.measured() && curl.size() > 0) {
    row.ratio = formatRatio(ours.seconds.median(), curl.median());
    row.pass = ours.seconds.median() <= 1.3 * curl.median();
  }
  emit(row);
  emitVsPeers("4. cp 1 GiB until on the server, vs peers", written, 0, "-", true);
}

void smallFilesRows(const MountBench& bench) {
  const std::string source = bench.work + "/small", tarball = bench.work + "/small.tar";
  makeSmallFiles(source + "/t", kFolders, kFilesPerFolder);
  timedShell("tar cf " + quoted(tarball) + " -C " + quoted(source) + " t");
  const TreeCount whole = countTree(source + "/t");
  fs::remove_all(source);
  const std::string servedFolder = bench.root + "/many", served = servedFolder + "/t";
  fs::create_directories(servedFolder);
  const std::string url = bench.url("many");
  note("mount: tar x and rm -r of " + std::to_string(whole.files) + " files (" + formatBytes(whole.bytes) +
       ") at " + url);

  Outcomes extracted, removed;
  forEachRun(
      bench, bench.all(),
      [&](MountedFs& fs) {
        struct Cleanup {
          std::string path;
          ~Cleanup() { fs::remove_all(path); }
        } cleanup{served};
        Mounted mounted(fs, url);
        auto start = Clock::now();
        timedShell("tar xf " + quoted(tarball) + " -C " + quoted(fs.mountpoint()));
        awaitStep(fs.label() + " sending the files", [&] { return countTree(served) == whole; });
        awaitStep(fs.label() + " settling", [&] { return fs.settled(); });
        extracted[fs.label()].seconds.add(since(start));
        start = Clock::now();
        timedShell("rm -r " + quoted(fs.mountpoint() + "/t"));
        awaitStep(fs.label() + " removing the files", [&] { return !fs::exists(served); });
        awaitStep(fs.label() + " settling", [&] { return fs.settled(); });
        removed[fs.label()].seconds.add(since(start));
      },
      {&extracted, &removed});
  emitVsPeers("5. tar x of 2,000 small files until on the server", extracted, 0.5, "<= 0.5");
  emitVsPeers("5. rm -r of 2,000 small files until gone from the server", removed, 0.5, "<= 0.5");
}

}  // namespace davfp::bench
