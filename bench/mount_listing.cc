// Mount workload: the first look at a tree of 100 folders of 100 small files, `find -type f | wc -l` and
// `ls -lR`, each on a freshly mounted file system with an empty cache; then the same `ls -lR` again, warm.
// Baselines: the faster peer; the engine enumerating the same 101 folders in one process of its own
// (davfp-bench enumerate-tree-child, on a fresh state file); `ls -lR` of the served folder on local disk; and
// the requests nginx got during our warm `ls -lR` (its access log's lines).
#include <algorithm>

#include "child_process.h"
#include "drive.h"
#include "mount_bench.h"
#include "mount_tree.h"
#include "support/real_server.h"
#include "support/temp_dir.h"

namespace davfp::bench {

namespace {

constexpr int kFolders = 100, kFilesPerFolder = 100;
constexpr long kFiles = long{kFolders} * kFilesPerFolder;

long requestsSoFar(const testing::RealServer& server) {
  std::string log = server.accessLog();
  return static_cast<long>(std::count(log.begin(), log.end(), '\n'));
}

void emitVsOne(const std::string& what, const Outcome& ours, const std::string& label, const Samples& baseline,
               double factor, const std::string& target) {
  Row row{.workload = what, .ours = describe(ours), .baseline = label + " " + formatSeconds(baseline.median()),
          .target = target};
  if (ours.measured()) {
    row.ratio = formatRatio(ours.seconds.median(), baseline.median());
    row.pass = ours.seconds.median() <= factor * baseline.median();
  }
  emit(row);
}

}  // namespace

void firstLookRows(const MountBench& bench) {
  const std::string served = bench.root + "/tree";
  makeTree(served, kFolders, kFilesPerFolder);
  const std::string url = bench.url("tree");
  note("mount: first look at " + std::to_string(kFiles) + " files in " + std::to_string(kFolders) +
       " folders at " + url);
  BenchDrive engineDrive(bench.work + "/engine-home", url);
  const std::string counted = bench.work + "/count.txt";

  Samples engine, local;
  Outcomes find, lsCold, lsWarm;
  Samples warmRequests;
  forEachRun(
      bench, bench.all(),
      [&](MountedFs& fs) {
        // The baselines run along with ours, so that they meet the machine in the same state.
        if (&fs == bench.ours) {
          engineDrive.forgetState();
          ChildRun enumerated = runChild(ChildSpec{.argv = {selfPath(), "enumerate-tree-child"},
                                                   .extraEnv = engineDrive.childEnvironment(),
                                                   .stdoutPath = counted});
          if (enumerated.exitStatus != 0) {
            throw std::runtime_error("enumerate-tree-child: " + enumerated.errorOutput);
          }
          std::string items = testing::readFile(counted);
          if (std::count(items.begin(), items.end(), '\n') != kFiles + kFolders) {
            throw std::runtime_error("enumerate-tree-child did not print one line per item");
          }
          engine.add(enumerated.seconds);
          local.add(timedShell("ls -lR " + quoted(served)));
        }
        {
          Mounted mounted(fs, url);
          double seconds = timedShell("find " + quoted(fs.mountpoint()) + " -type f | wc -l", counted);
          long files = std::stol(testing::readFile(counted));
          if (files != kFiles) throw std::runtime_error("find counted " + std::to_string(files) + " files");
          find[fs.label()].seconds.add(seconds);
        }
        Mounted mounted(fs, url);
        lsCold[fs.label()].seconds.add(timedShell("ls -lR " + quoted(fs.mountpoint())));
        long before = requestsSoFar(*bench.server);
        lsWarm[fs.label()].seconds.add(timedShell("ls -lR " + quoted(fs.mountpoint())));
        if (&fs == bench.ours) warmRequests.add(static_cast<double>(requestsSoFar(*bench.server) - before));
      },
      {&find, &lsCold, &lsWarm});
  note("  engine, 101 folders in one process: " + formatSeconds(engine.median()) + "; ls -lR on local disk: " +
       formatSeconds(local.median()));

  emitVsPeers("1. find -type f, 10,000 files, cold", find, 0.5, "<= 0.5");
  emitVsPeers("1. ls -lR, 10,000 files, cold", lsCold, 0.5, "<= 0.5");
  emitVsOne("1. find -type f, cold, vs engine", find["ours"], "engine", engine, 1.5, "<= 1.5");
  emitVsOne("1. ls -lR, cold, vs engine", lsCold["ours"], "engine", engine, 1.5, "<= 1.5");
  emitVsOne("2. ls -lR, warm, vs local disk", lsWarm["ours"], "local disk", local, 1.2, "<= 1.2");
  emitVsPeers("2. ls -lR, warm, vs peers", lsWarm, 0, "-", true);
  if (warmRequests.size() > 0) {
    emit(Row{.workload = "2. requests during warm ls -lR",
             .ours = std::to_string(static_cast<long>(warmRequests.max())),
             .target = "0",
             .pass = warmRequests.max() == 0});
  }
}

}  // namespace davfp::bench
