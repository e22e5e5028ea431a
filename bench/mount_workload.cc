// Workload: the drive as a folder. `davfp mount` against rclone mount (--vfs-cache-mode full and writes) and
// davfs2, all on the same nginx on loopback in the same run, each file system on its own mount point and an
// empty cache for every cold run: the first look at a tree and the warm look after it, reading and writing a
// 1 GiB file, many small files, a change on the server, pinning a folder, and memory (see the mount_*.cc files). A file
// system that cannot run here is named in the rows; without root or /dev/fuse nothing is mounted.
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <sstream>

#include "clients.h"
#include "mount_bench.h"
#include "support/real_server.h"
#include "support/temp_dir.h"
#include "workloads.h"

namespace davfp::bench {

namespace {

// The names an environment variable lists, separated by spaces or commas; none when it is unset.
std::set<std::string> namesIn(const char* variable) {
  std::string listed = std::getenv(variable) ? std::getenv(variable) : "";
  std::replace(listed.begin(), listed.end(), ',', ' ');
  std::set<std::string> names;
  std::istringstream in(listed);
  for (std::string name; in >> name;) names.insert(name);
  return names;
}

}  // namespace

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
  // MOUNT_PEERS (davfs2, rclone-full, rclone-writes) compares with those peers only; all of them by default.
  const std::set<std::string> peers = namesIn("MOUNT_PEERS");
  for (MountedFs* fs : std::vector<MountedFs*>{&ours, &rcloneFull, &rcloneWrites, &davfs}) {
    std::string name = fs->label();
    std::replace(name.begin(), name.end(), ' ', '-');
    if (fs != &ours && !peers.empty() && !peers.count(name)) {
      bench.missing[fs->label()] = "left out (MOUNT_PEERS)";
    } else if (std::string why = fs->unavailable(); !why.empty()) {
      note("mount: " + fs->label() + " cannot run here: " + why);
      bench.missing[fs->label()] = why;
    } else if (fs == &ours) {
      bench.ours = &ours;
    } else {
      bench.peers.push_back(fs);
    }
  }

  // MOUNT_PARTS (names separated by spaces or commas) runs only those parts; every part by default.
  const std::vector<std::pair<std::string, void (*)(const MountBench&)>> parts = {
      {"first-look", firstLookRows}, {"big-file", bigFileRows},         {"write-back", writeBackRows},
      {"small-files", smallFilesRows}, {"remote-change", remoteChangeRows}, {"pin", pinRows},
      {"memory", memoryRows}};
  const std::set<std::string> wanted = namesIn("MOUNT_PARTS");
  for (const std::string& name : wanted) {
    if (std::none_of(parts.begin(), parts.end(), [&](const auto& part) { return part.first == name; }))
      emitFailure("mount", "-", "no part named " + name);
  }
  for (const auto& [name, rows] : parts) {
    if (wanted.empty() || wanted.count(name)) rows(bench);
  }
  return 0;
}

}  // namespace davfp::bench
