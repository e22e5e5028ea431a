// The file systems the mount workloads compare: our mount (`davfp mount`), rclone mount in its two caching
// modes (full: a replica; writes: only what is written is cached), and davfs2. Each has a private folder for
// its mount point, caches and log, and mounts a URL on an empty cache every time, so that every measurement
// it starts is cold. Only one is mounted at a time. Use each from one thread.
#pragma once

#include <sys/types.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace davfp::bench {

class Background;
class BenchDrive;

class MountedFs {
 public:
  // dir: the file system's private folder, made here.
  MountedFs(std::string label, std::string dir);
  virtual ~MountedFs();
  MountedFs(const MountedFs&) = delete;
  MountedFs& operator=(const MountedFs&) = delete;

  const std::string& label() const { return label_; }
  const std::string& mountpoint() const { return mountpoint_; }

  // Why it cannot run on this machine; empty when it can.
  virtual std::string unavailable() const = 0;
  // Mounts url at mountpoint() on an empty cache and returns once the folder is mounted. pollSeconds is how
  // often ours looks for changes on the server (the peers have their own defaults). Throws
  // std::runtime_error, with the log's end, when it does not mount.
  virtual void mount(const std::string& url, int pollSeconds) = 0;
  // Unmounts and returns once its process ended, having sent what it held (10 minutes at most; then it is
  // killed and the folder detached). Never throws.
  virtual void unmount() = 0;
  // The process that serves the folder, for its memory; -1 when not mounted.
  virtual pid_t process() const = 0;
  // Whether it says that nothing written is still waiting to be sent. The peers do not say: always true.
  virtual bool settled() { return true; }

 protected:
  // Waits (30 s at most) until mountpoint() is mounted; throws with the log's end when the process that
  // should mount it ends first or the time runs out.
  void awaitMounted(Background* process);
  // Asks the kernel to let go of mountpoint() with program (fusermount3 -u, umount) and waits for process
  // to end; kills it and detaches the folder lazily when either does not happen in time.
  void release(const std::vector<std::string>& program, Background* process, pid_t pid);
  // Removes the folder and everything in it (a cache), quietly.
  static void removeTree(const std::string& path);
  std::string logTail() const;

  std::string label_, dir_, mountpoint_, log_;
};

// Why this machine cannot mount through the kernel (root, /dev/fuse, fusermount3); empty when it can.
std::string whyNoMount();

// `davfp mount DIR --foreground --poll N` in a private home: its replica under XDG_CACHE_HOME, the state
// file and drives.json of a BenchDrive.
class OurMount final : public MountedFs {
 public:
  OurMount(const std::string& dir, std::string program);
  ~OurMount() override;

  std::string unavailable() const override;
  void mount(const std::string& url, int pollSeconds) override;
  void unmount() override;
  pid_t process() const override;
  bool settled() override;

  // `davfp status --json` of the mounted drive: its "pending", "items" and "replica" fields.
  struct Status {
    long pending = -1;
    long items = 0;
    std::string replica;
  };
  Status status();
  // The folder that holds the replica's file contents.
  std::string contentsFolder();
  // Runs `davfp --domain DOMAIN args...` on the mounted drive; its seconds. Throws when it fails.
  double command(const std::vector<std::string>& args);
  // The journal's size on disk (its database and write-ahead log).
  double journalBytes();

 private:
  std::map<std::string, std::string> environment() const;

  std::string program_, home_;
  std::unique_ptr<BenchDrive> drive_;
  std::unique_ptr<Background> process_;
};

// `rclone mount :webdav: DIR --webdav-url URL --vfs-cache-mode MODE --cache-dir FRESH` with an empty
// configuration; every other setting is rclone's default.
class RcloneMount final : public MountedFs {
 public:
  RcloneMount(const std::string& dir, std::string mode);
  ~RcloneMount() override;

  std::string unavailable() const override;
  void mount(const std::string& url, int pollSeconds) override;
  void unmount() override;
  pid_t process() const override;

 private:
  std::string mode_;
  std::unique_ptr<Background> process_;
};

// `mount -t davfs URL DIR -o conf=FILE,uid=0,gid=0` with a configuration that keeps davfs2 working and
// non-interactive here (buf_size 64, drop_weak_etags 1, use_locks 0, delay_upload 0, ask_auth 0, an empty
// secrets file) and a fresh cache_dir.
class DavfsMount final : public MountedFs {
 public:
  explicit DavfsMount(const std::string& dir);
  ~DavfsMount() override;

  std::string unavailable() const override;
  void mount(const std::string& url, int pollSeconds) override;
  void unmount() override;
  pid_t process() const override { return pid_; }

 private:
  pid_t pid_ = -1;  // mount.davfs, which runs in the background once mounted
};

}  // namespace davfp::bench
