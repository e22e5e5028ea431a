// Workload: the drive as a folder. `davfp mount` against rclone mount (--vfs-cache-mode full and writes) and
// davfs2, all on the same nginx on loopback in the same run, each file system on its own mount point and an
// empty cache for every cold run: the first look at a tree and the warm look after it, reading and writing a
// 1 GiB file, many small files, a change on the server, pinning a folder, and memory (see the mount_*.cc files). A file
// system that cannot run here is named in the rows; without root or /dev/fuse nothing is mounted.
#include <sys/stat.h>

#include <filesystem>

#include "clients.h"
#include "mount_bench.h"
#include "support/real_server.h"
#include "support/temp_dir.h"
#include "workloads.h"

namespace davfp::bench {

int mountWorkload(int runs) {
  if (std::string why = whyNoMount(); !why.empty()) {
    emitFailure("mount", "-", "cannot mount here: " + why);
    return 0;
  }
  testing::TempDir work;
  // davfs2 writes its cache as its own user, which must reach it.
  ::chmod(work.path().c_str(), 0755);
  const std::string root = work.file("root");
  std::filesystem::create_directories(root);
  auto server = testing::RealServer::start(testing::ServerKind::nginx, root);

  OurMount ours(work.file("ours"), davfpProgram());
  RcloneMount rcloneFull(work.file("rclone-full"), "full");
  RcloneMount rcloneWrites(work.file("rclone-writes"), "writes");
  DavfsMount davfs(work.file("davfs2"));
  MountBench bench{.work = work.path(), .root = root, .server = server.get(), .ours = nullptr, .runs = runs};
  for (MountedFs* fs : std::vector<MountedFs*>{&ours, &rcloneFull, &rcloneWrites, &davfs}) {
    if (std::string why = fs->unavailable(); !why.empty()) {
      note("mount: " + fs->label() + " cannot run here: " + why);
      bench.missing[fs->label()] = why;
    } else if (fs == &ours) {
      bench.ours = &ours;
    } else {
      bench.peers.push_back(fs);
    }
  }

  firstLookRows(bench);
  bigFileRows(bench);
  writeBackRows(bench);
  smallFilesRows(bench);
  remoteChangeRows(bench);
  pinRows(bench);
  memoryRows(bench);
  return 0;
}

}  // namespace davfp::bench
