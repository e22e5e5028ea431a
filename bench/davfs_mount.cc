// DavfsMount: davfs2's mount, started by mount(8); its mount.davfs process stays in the background until
// the folder is unmounted, and ends once it has sent what its cache held.
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "background.h"
#include "child_process.h"
#include "mounts.h"
#include "support/temp_dir.h"

namespace davfp::bench {

DavfsMount::DavfsMount(const std::string& dir) : MountedFs("davfs2", dir) {}

DavfsMount::~DavfsMount() { unmount(); }

std::string DavfsMount::unavailable() const {
  if (::access("/usr/sbin/mount.davfs", X_OK) != 0) return "davfs2 is not installed";
  if (::getgrnam("davfs2") == nullptr) return "no davfs2 group";
  return whyNoMount();
}

void DavfsMount::mount(const std::string& url, int /*pollSeconds*/) {
  // The cache is written by mount.davfs as the davfs2 user: a folder of root's, open to that group.
  const std::string cache = dir_ + "/cache";
  removeTree(cache);
  std::filesystem::create_directories(cache);
  if (::chown(cache.c_str(), 0, ::getgrnam("davfs2")->gr_gid) != 0 || ::chmod(cache.c_str(), 0775) != 0) {
    throw std::runtime_error("cannot prepare davfs2's cache folder " + cache);
  }
  const std::string secrets = dir_ + "/secrets", conf = dir_ + "/davfs2.conf";
  testing::writeFile(secrets, "");
  ::chmod(secrets.c_str(), 0600);
  testing::writeFile(conf, "buf_size 64\ndrop_weak_etags 1\nuse_locks 0\ndelay_upload 0\nask_auth 0\n"
                           "cache_dir " + cache + "\nsecrets " + secrets + "\n");
  ChildRun run = runChild(ChildSpec{
      .argv = {"mount", "-t", "davfs", url, mountpoint_, "-o", "conf=" + conf + ",uid=0,gid=0"},
      .stdoutPath = log_});
  if (run.exitStatus != 0) throw std::runtime_error("davfs2 did not mount: " + run.errorOutput);
  awaitMounted(nullptr);
  pid_ = findProcess("mount.davfs", {mountpoint_});
}

void DavfsMount::unmount() {
  if (!isMountPoint(mountpoint_) && pid_ < 0) return;
  release({"umount", mountpoint_}, nullptr, pid_);
  pid_ = -1;
}

}  // namespace davfp::bench
