// Workload: a change pass over 1,000 remembered folders of 20 files each, with nothing changed and with 1% of
// the files changed, against nginx on loopback. Each pass runs on a new extension (a new session: its first
// request opens the connection) over the state that browsing every folder left behind. Baseline: the same
// 1,000 PROPFINDs sent one after another by a minimal libcurl client on one kept-alive connection; and, for
// comparison, the same client parsing each answer with expat alone, which no client that reads the answers
// can go below.
#include <cstdio>
#include <stdexcept>

#include "client/platform_client.h"
#include "drive.h"
#include "propfind_loop.h"
#include "dav/listing.h"
#include "provider/snapshots.h"
#include "summary.h"
#include "support/real_server.h"
#include "support/temp_dir.h"
#include "tree.h"
#include "workloads.h"

namespace davfp::bench {

namespace {

constexpr int kFolders = 1000;
constexpr int kFilesPerFolder = 20;
constexpr int kChangedFiles = kFolders * kFilesPerFolder / 100;

std::string folderName(int i) {
  char name[16];
  std::snprintf(name, sizeof name, "d%04d", i);
  return name;
}

// Lists every folder once and records what a platform that browsed them all would have left: each folder's
// snapshot and an identifier for every folder and file, in one save.
void rememberTree(BenchDrive& drive) {
  auto ext = drive.extension();
  State::Batch batch;
  std::vector<std::vector<DavEntry>> listed;  // the views in batch.mint point into them
  for (int i = 0; i < kFolders; ++i) {
    std::string folder = "/" + folderName(i);
    listed.push_back(childrenOf(folder, ext.dav->list(folder, 1)));
    batch.steps.push_back({State::Step::Kind::remember, folder, snapshotOf(listed.back())});
  }
  for (size_t i = 0; i < batch.steps.size(); ++i) {
    batch.mint.push_back(batch.steps[i].path);
    for (const auto& kid : listed[i]) batch.mint.push_back(kid.path);
  }
  ext.state->commit(std::move(batch));
}

struct Pass {
  double seconds, cpuSeconds;
  size_t updated, deleted;
  long writes, connections;
};

Pass timedPass(BenchDrive& drive) {
  auto ext = drive.extension();
  long writesBefore = drive.stateWrites();
  double cpuStart = processCpuSeconds();
  auto start = Clock::now();
  auto changes =
      client::PlatformClient(ext.ext).changes(platform::kWorkingSetContainerItemIdentifier, ext->anchor());
  double seconds = since(start);
  size_t updated = 0;
  for (const auto& change : changes.changes) updated += change.updated ? 1 : 0;
  return Pass{seconds, processCpuSeconds() - cpuStart, updated, changes.changes.size() - updated,
              drive.stateWrites() - writesBefore, ext.dav->connectionsOpened()};
}

}  // namespace

int changesWorkload(int runs) {
  testing::TempDir work;
  const std::string tree = work.file("root/tree");
  for (int i = 0; i < kFolders; ++i) makeFolder(tree + "/" + folderName(i), kFilesPerFolder);
  auto server = testing::RealServer::start(testing::ServerKind::nginx, work.file("root"));
  const std::string url = server->baseUrl() + "tree/";
  std::vector<std::string> folderUrls;
  for (int i = 0; i < kFolders; ++i) folderUrls.push_back(url + folderName(i) + "/");

  BenchDrive drive(work.file("home"), url);
  rememberTree(drive);
  note("changes: " + std::to_string(kFolders) + " folders of " + std::to_string(kFilesPerFolder) +
       " files remembered at " + url);

  Samples baseline, parsing, unchanged, changed, baselineCpu, parsingCpu, unchangedCpu, changedCpu;
  long maxConnections = 0, baselineConnections = 0, unchangedWrites = 0, changedWrites = 0;
  for (int run = 0; run < runs; ++run) {
    LoopResult loop = propfindLoop(folderUrls);
    baseline.add(loop.seconds);
    baselineCpu.add(loop.cpuSeconds);
    baselineConnections = std::max(baselineConnections, loop.connections);
    LoopResult parsed = propfindLoop(folderUrls, true);
    parsing.add(parsed.seconds);
    parsingCpu.add(parsed.cpuSeconds);

    Pass quiet = timedPass(drive);
    if (quiet.updated != 0 || quiet.deleted != 0) throw std::runtime_error("a pass over nothing changed reported changes");
    unchanged.add(quiet.seconds);
    unchangedCpu.add(quiet.cpuSeconds);
    unchangedWrites = std::max(unchangedWrites, quiet.writes);

    // 1% of the files grow by a byte: a new size, so a new version on a server without entity tags.
    for (int k = 0; k < kChangedFiles; ++k) {
      appendTo(tree + "/" + folderName(k * (kFolders / kChangedFiles)) + "/" + fileName((k + run) % kFilesPerFolder), "y");
    }
    Pass busy = timedPass(drive);
    if (busy.updated != kChangedFiles || busy.deleted != 0) {
      throw std::runtime_error("a pass over " + std::to_string(kChangedFiles) + " changed files reported " +
                               std::to_string(busy.updated) + " updates and " + std::to_string(busy.deleted) +
                               " deletions");
    }
    changed.add(busy.seconds);
    changedCpu.add(busy.cpuSeconds);
    changedWrites = std::max(changedWrites, busy.writes);
    maxConnections = std::max({maxConnections, quiet.connections, busy.connections});
    note("  run " + std::to_string(run + 1) + ": libcurl loop " + formatSeconds(loop.seconds) + " (CPU " +
         formatSeconds(loop.cpuSeconds) + "), with expat " + formatSeconds(parsed.seconds) + " (CPU " +
         formatSeconds(parsed.cpuSeconds) + "), pass unchanged " + formatSeconds(quiet.seconds) + " (CPU " +
         formatSeconds(quiet.cpuSeconds) + "), 1% changed " + formatSeconds(busy.seconds) + " (CPU " +
         formatSeconds(busy.cpuSeconds) + ")");
  }
  note("  CPU medians: libcurl loop " + formatSeconds(baselineCpu.median()) + ", with expat " +
       formatSeconds(parsingCpu.median()) + ", pass unchanged " + formatSeconds(unchangedCpu.median()) +
       ", 1% changed " + formatSeconds(changedCpu.median()));

  std::string base = "libcurl loop " + formatSeconds(baseline.median());
  emit(Row{.workload = "3. change pass, 1,000 folders, nothing changed",
           .ours = formatSeconds(unchanged.median()),
           .baseline = base,
           .ratio = formatRatio(unchanged.median(), baseline.median()),
           .target = "<= 1.3",
           .pass = unchanged.median() <= 1.3 * baseline.median()});
  emit(Row{.workload = "3. change pass, 1,000 folders, 1% of files changed",
           .ours = formatSeconds(changed.median()),
           .baseline = base,
           .ratio = formatRatio(changed.median(), baseline.median()),
           .target = "<= 1.3",
           .pass = changed.median() <= 1.3 * baseline.median()});
  emit(Row{.workload = "3. change pass, nothing changed, vs a loop that parses",
           .ours = formatSeconds(unchanged.median()),
           .baseline = "libcurl loop + expat " + formatSeconds(parsing.median()),
           .ratio = formatRatio(unchanged.median(), parsing.median()),
           .target = "-",
           .context = true});
  emit(Row{.workload = "3. connections per pass",
           .ours = std::to_string(maxConnections),
           .baseline = "libcurl loop " + std::to_string(baselineConnections),
           .target = "1",
           .pass = maxConnections == 1});
  emit(Row{.workload = "3. state file writes per pass, unchanged / changed",
           .ours = std::to_string(unchangedWrites) + " / " + std::to_string(changedWrites),
           .target = "0 / 1",
           .pass = unchangedWrites == 0 && changedWrites == 1});
  return 0;
}

}  // namespace davfp::bench
