// FuseMount: the drive as a kernel file system through libfuse's low-level interface. It answers the
// kernel's requests with DriveFs (one worker thread per request in flight, so that a slow fetch holds up only
// the program that waits for it) and tells the kernel to forget what it cached when the journal learns
// otherwise (notify()). Extended attributes are ItemAttributes' (fuse_xattr.h). Symbolic and hard links and
// special files are refused with EPERM.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "mount/drive_fs.h"
#include "mount/fuse_xattr.h"
#include "mount/item_attributes.h"
#include "mount/journal.h"

struct fuse_session;

namespace davfp::mount {

class FuseMount {
 public:
  struct Options {
    std::string fsname;  // what mount(8) shows as the source
    bool debug = false;  // libfuse's own request log on stderr
  };

  FuseMount(DriveFs& fs, ItemAttributes& attributes, Options options);
  ~FuseMount();
  FuseMount(const FuseMount&) = delete;
  FuseMount& operator=(const FuseMount&) = delete;

  // Mounts at mountpoint. Throws platform::Error (POSIX) when the kernel refuses.
  void mount(const std::string& mountpoint);
  // Answers requests until the file system is unmounted (by exit(), fusermount3 -u or umount), then unmounts
  // it when it is still mounted.
  void run();
  // Unmounts the file system (lazily: programs that still have files open keep them until they close them),
  // which ends run(). From any thread; once is enough.
  void exit();
  // Drops the kernel's cached attributes, contents and names that effects name. Any thread but a request's.
  void notify(const Effects& effects);

 private:
  const std::unique_ptr<FuseTargets> targets_;
  const Options options_;
  fuse_session* session_ = nullptr;
  std::atomic<bool> mounted_{false};
};

}  // namespace davfp::mount
