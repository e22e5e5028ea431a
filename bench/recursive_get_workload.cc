// Workload: copying a whole tree off the drive. `davfp get -r` of 100 folders of 100 files of 4 KiB on nginx
// on loopback into a new local folder, on a fresh state file, against `rclone copy` of the same WebDAV
// address; the davfp process's peak resident memory as well, which must stay bounded however large the tree.
#include <filesystem>
#include <stdexcept>

#include "child_process.h"
#include "clients.h"
#include "drive.h"
#include "summary.h"
#include "support/real_server.h"
#include "support/temp_dir.h"
#include "tree.h"
#include "workloads.h"

namespace davfp::bench {

namespace {

constexpr int kFolders = 100;
constexpr int kFilesPerFolder = 100;
constexpr int64_t kFileSize = 4 << 10;
constexpr double kMemoryLimit = 100.0 * 1024 * 1024;

long filesUnder(const std::string& dir) {
  long files = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(dir)) files += entry.is_regular_file();
  return files;
}

// One run into a new folder, which must then hold every file; the folder goes again afterwards.
ChildRun copyOnce(const std::string& what, const ChildSpec& spec, const std::string& dest) {
  std::filesystem::remove_all(dest);
  ChildRun run = runChild(spec);
  if (run.exitStatus != 0) throw std::runtime_error(what + " failed: " + run.errorOutput);
  if (long files = filesUnder(dest); files != kFolders * kFilesPerFolder) {
    throw std::runtime_error(what + " copied " + std::to_string(files) + " files");
  }
  std::filesystem::remove_all(dest);
  return run;
}

}  // namespace

int recursiveGetWorkload(int runs) {
  const std::string davfp = davfpProgram();
  if (davfp.empty()) {
    emitFailure("7. get -r 10,000 files of 4 KiB, vs rclone copy", "<= 1.5", "the davfp program is not built");
    return 1;
  }
  testing::TempDir work;
  const std::string root = work.file("root");
  for (int f = 0; f < kFolders; ++f) {
    std::string folder = root + "/tree/folder-" + std::to_string(f);
    std::filesystem::create_directories(folder);
    for (int i = 0; i < kFilesPerFolder; ++i) makeFile(folder + "/" + fileName(i), kFileSize);
  }
  auto server = testing::RealServer::start(testing::ServerKind::nginx, root);
  const std::string url = server->baseUrl() + "tree/";
  note("recursive-get: " + std::to_string(kFolders) + " folders of " + std::to_string(kFilesPerFolder) +
       " files of " + formatBytes(kFileSize) + " at " + url);
  BenchDrive drive(work.file("home"), url);
  const std::string dest = work.file("copy"), config = work.file("rclone.conf");
  testing::writeFile(config, "");
  ChildSpec ours{.argv = {davfp, "get", "-r", "/", dest}, .extraEnv = drive.childEnvironment()};
  ChildSpec rclone{.argv = {"rclone", "copy", ":webdav:", dest, "--webdav-url", url, "--config", config,
                            "--cache-dir", work.file("rclone-cache")}};

  Samples ourSeconds, ourPeak, rcloneSeconds;
  // Interleaved, so that a busy moment of the machine falls on both alike.
  for (int run = 0; run < runs; ++run) {
    drive.forgetState();
    ChildRun mine = copyOnce("davfp get -r", ours, dest);
    ourSeconds.add(mine.seconds);
    ourPeak.add(mine.peakBytes);
    ChildRun theirs = copyOnce("rclone copy", rclone, dest);
    rcloneSeconds.add(theirs.seconds);
    note("  run " + std::to_string(run + 1) + ": davfp " + formatSeconds(mine.seconds) + " (peak " +
         formatBytes(mine.peakBytes) + "), rclone " + formatSeconds(theirs.seconds));
  }
  double mine = ourSeconds.median(), theirs = rcloneSeconds.median();
  emit(Row{.workload = "7. get -r 10,000 files of 4 KiB, vs rclone copy",
           .ours = formatSeconds(mine),
           .baseline = "rclone copy " + formatSeconds(theirs),
           .ratio = formatRatio(mine, theirs),
           .target = "<= 1.5",
           .pass = mine <= 1.5 * theirs});
  emit(Row{.workload = "7. peak memory, get -r 10,000 files",
           .ours = formatBytes(ourPeak.max()),
           .target = "< 100 MiB",
           .pass = ourPeak.max() < kMemoryLimit});
  return 0;
}

}  // namespace davfp::bench
