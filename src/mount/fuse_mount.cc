#define FUSE_USE_VERSION 312
#include "mount/fuse_mount.h"

#include <fuse_lowlevel.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <stop_token>
#include <vector>

#include "mount/fs_error.h"
#include "mount/fuse_answer.h"
#include "mount/fuse_xattr.h"
#include "platform/error.h"

namespace davfp::mount {

namespace {

// How long the kernel may keep names and attributes: the mount tells it when they change.
constexpr double kCacheSeconds = 60.0;

// The largest read or write request the kernel sends here.
constexpr unsigned kLargeRequest = 1u << 20;

DriveFs& fsOf(fuse_req_t req) { return static_cast<FuseTargets*>(fuse_req_userdata(req))->fs; }

struct stat statOf(const Node& node) {
  struct stat st {};
  st.st_ino = node.ino;
  st.st_mode = node.folder ? (S_IFDIR | 0755) : (S_IFREG | 0644);
  st.st_nlink = node.folder ? 2 : 1;
  st.st_uid = ::getuid();
  st.st_gid = ::getgid();
  st.st_size = node.folder ? 0 : node.size;
  // The size programs take for their reads and writes (cp and cat size their buffers by it): the largest
  // request, so that a large file crosses in a quarter of the requests that 256 KiB pieces take.
  st.st_blksize = kLargeRequest;
  // What the replica's copy takes (du), while st_size is the drive's size (du --apparent-size): a dataless
  // file takes nothing.
  st.st_blocks = node.blocks;
  st.st_mtim.tv_sec = node.mtimeNs / 1'000'000'000;
  st.st_mtim.tv_nsec = node.mtimeNs % 1'000'000'000;
  if (st.st_mtim.tv_nsec < 0) {
    st.st_mtim.tv_nsec += 1'000'000'000;
    st.st_mtim.tv_sec -= 1;
  }
  st.st_ctim = st.st_mtim;
  st.st_atim = st.st_mtim;
  return st;
}

fuse_entry_param entryOf(const Node& node) {
  fuse_entry_param e{};
  e.ino = node.ino;
  e.generation = 1;
  e.attr = statOf(node);
  e.attr_timeout = kCacheSeconds;
  e.entry_timeout = kCacheSeconds;
  return e;
}

// Like answer(), for an operation that may wait for the server: the kernel's interrupt of the request (the
// program was interrupted) stops the token given to op. op returns what answers the request; the answer is
// sent only once no interrupt callback can run any more, since the callback's stop source lives here.
template <class Op>
void answerInterruptible(fuse_req_t req, Op op) {
  std::stop_source stop;
  fuse_req_interrupt_func(
      req, [](fuse_req_t, void* data) { static_cast<std::stop_source*>(data)->request_stop(); }, &stop);
  std::function<void()> reply;
  int err = 0;
  try {
    reply = op(stop.get_token());
  } catch (...) {
    err = errnoOfCurrentException();
  }
  fuse_req_interrupt_func(req, nullptr, nullptr);  // waits for a callback that runs now
  if (err) {
    fuse_reply_err(req, err);
  } else {
    reply();
  }
}

void onInit(void*, fuse_conn_info* conn) {
  // Reads of the replica's copies are spliced from its file to the kernel, not copied through this process.
  if (conn->capable & FUSE_CAP_SPLICE_WRITE) conn->want |= FUSE_CAP_SPLICE_WRITE;
  if (conn->capable & FUSE_CAP_SPLICE_MOVE) conn->want |= FUSE_CAP_SPLICE_MOVE;
  if (conn->capable & FUSE_CAP_READDIRPLUS) conn->want |= FUSE_CAP_READDIRPLUS;
  conn->want &= ~FUSE_CAP_READDIRPLUS_AUTO;
  // Writes and read-ahead in pieces of a MiB rather than 128 KiB: a large file costs an eighth of the
  // requests (the kernel caps what it cannot do, and libfuse what its buffers cannot hold).
  conn->max_write = kLargeRequest;
  conn->max_readahead = kLargeRequest;
}

void onLookup(fuse_req_t req, fuse_ino_t parent, const char* name) {
  answerInterruptible(req, [&](std::stop_token cancel) -> std::function<void()> {
    auto e = entryOf(fsOf(req).lookup(parent, name, cancel));
    return [req, e] { fuse_reply_entry(req, &e); };
  });
}

void onGetattr(fuse_req_t req, fuse_ino_t ino, fuse_file_info*) {
  answer(req, [&] {
    auto st = statOf(fsOf(req).attributes(ino));
    fuse_reply_attr(req, &st, kCacheSeconds);
  });
}

// An open folder: its children as they were when it was opened, read out in pieces.
struct OpenFolder {
  std::vector<Node> children;
};

void onOpendir(fuse_req_t req, fuse_ino_t ino, fuse_file_info* fi) {
  answerInterruptible(req, [&](std::stop_token cancel) -> std::function<void()> {
    auto folder = std::make_unique<OpenFolder>();
    folder->children = fsOf(req).children(ino, cancel);
    fi->fh = reinterpret_cast<uint64_t>(folder.release());
    fi->cache_readdir = 1;
    fi->keep_cache = 1;
    return [req, fi] { fuse_reply_open(req, fi); };
  });
}

// Offsets: 0 and 1 are "." and "..", n + 2 the n-th child.
void readFolder(fuse_req_t req, fuse_ino_t ino, size_t size, off_t offset, fuse_file_info* fi, bool plus) {
  answer(req, [&] {
    auto& folder = *reinterpret_cast<OpenFolder*>(fi->fh);
    std::vector<char> buf(size);
    size_t used = 0;
    for (off_t at = offset; at < static_cast<off_t>(folder.children.size()) + 2; ++at) {
      Node dot;
      const Node* node = &dot;
      std::string name;
      if (at < 2) {
        dot.ino = ino;
        dot.folder = true;
        name = at == 0 ? "." : "..";
      } else {
        node = &folder.children[at - 2];
        name = node->name;
      }
      size_t want;
      if (plus && at >= 2) {
        auto e = entryOf(*node);
        want = fuse_add_direntry_plus(req, buf.data() + used, size - used, name.c_str(), &e, at + 1);
      } else if (plus) {
        fuse_entry_param e{};
        e.attr.st_ino = ino;
        e.attr.st_mode = S_IFDIR;
        want = fuse_add_direntry_plus(req, buf.data() + used, size - used, name.c_str(), &e, at + 1);
      } else {
        auto st = statOf(*node);
        want = fuse_add_direntry(req, buf.data() + used, size - used, name.c_str(), &st, at + 1);
      }
      if (want > size - used) break;
      used += want;
    }
    fuse_reply_buf(req, buf.data(), used);
  });
}

void onReaddir(fuse_req_t req, fuse_ino_t ino, size_t size, off_t off, fuse_file_info* fi) {
  readFolder(req, ino, size, off, fi, false);
}

void onReaddirplus(fuse_req_t req, fuse_ino_t ino, size_t size, off_t off, fuse_file_info* fi) {
  readFolder(req, ino, size, off, fi, true);
}

void onReleasedir(fuse_req_t req, fuse_ino_t, fuse_file_info* fi) {
  delete reinterpret_cast<OpenFolder*>(fi->fh);
  fuse_reply_err(req, 0);
}

OpenFile& fileOf(fuse_file_info* fi) { return *reinterpret_cast<OpenFile*>(fi->fh); }

void onOpen(fuse_req_t req, fuse_ino_t ino, fuse_file_info* fi) {
  answerInterruptible(req, [&](std::stop_token cancel) -> std::function<void()> {
    auto file = fsOf(req).open(ino, fi->flags, cancel);
    fi->keep_cache = file->writable ? 0 : 1;
    fi->fh = reinterpret_cast<uint64_t>(file.release());
    return [req, fi] { fuse_reply_open(req, fi); };
  });
}

void onCreate(fuse_req_t req, fuse_ino_t parent, const char* name, mode_t mode, fuse_file_info* fi) {
  answer(req, [&] {
    if (!S_ISREG(mode)) throw FsError(EPERM);
    auto [node, file] = fsOf(req).create(parent, name);
    auto e = entryOf(node);
    fi->fh = reinterpret_cast<uint64_t>(file.release());
    fuse_reply_create(req, &e, fi);
  });
}

void onRead(fuse_req_t req, fuse_ino_t, size_t size, off_t offset, fuse_file_info* fi) {
  fuse_bufvec buf{};
  buf.count = 1;
  buf.buf[0].size = size;
  buf.buf[0].flags = static_cast<fuse_buf_flags>(FUSE_BUF_IS_FD | FUSE_BUF_FD_SEEK);
  buf.buf[0].fd = fileOf(fi).fd;
  buf.buf[0].pos = offset;
  fuse_reply_data(req, &buf, FUSE_BUF_SPLICE_MOVE);
}

void onWrite(fuse_req_t req, fuse_ino_t, const char* data, size_t size, off_t offset, fuse_file_info* fi) {
  answer(req, [&] { fuse_reply_write(req, fsOf(req).write(fileOf(fi), data, size, offset)); });
}

void onFsync(fuse_req_t req, fuse_ino_t, int, fuse_file_info* fi) {
  answer(req, [&] {
    fsOf(req).fsync(fileOf(fi));
    fuse_reply_err(req, 0);
  });
}

void onRelease(fuse_req_t req, fuse_ino_t, fuse_file_info* fi) {
  std::unique_ptr<OpenFile> file(reinterpret_cast<OpenFile*>(fi->fh));
  answer(req, [&] {
    fsOf(req).release(std::move(file));
    fuse_reply_err(req, 0);
  });
}

void onSetattr(fuse_req_t req, fuse_ino_t ino, struct stat* attr, int set, fuse_file_info* fi) {
  answer(req, [&] {
    std::optional<off_t> size;
    std::optional<int64_t> mtime;
    if (set & FUSE_SET_ATTR_SIZE) size = attr->st_size;
    if (set & FUSE_SET_ATTR_MTIME_NOW) {
      mtime = std::chrono::duration_cast<std::chrono::nanoseconds>(
                  std::chrono::system_clock::now().time_since_epoch())
                  .count();
    } else if (set & FUSE_SET_ATTR_MTIME) {
      mtime = attr->st_mtim.tv_sec * 1'000'000'000LL + attr->st_mtim.tv_nsec;
    }
    // Modes and owners are the mount's own (files 0644, folders 0755, the mounting user's): a change of them
    // is accepted and has no effect, as on file systems without them.
    auto st = statOf(fsOf(req).setAttributes(ino, size, mtime, fi ? &fileOf(fi) : nullptr));
    fuse_reply_attr(req, &st, kCacheSeconds);
  });
}

void onMkdir(fuse_req_t req, fuse_ino_t parent, const char* name, mode_t) {
  answer(req, [&] {
    auto e = entryOf(fsOf(req).mkdir(parent, name));
    fuse_reply_entry(req, &e);
  });
}

void onUnlink(fuse_req_t req, fuse_ino_t parent, const char* name) {
  answer(req, [&] {
    fsOf(req).unlink(parent, name);
    fuse_reply_err(req, 0);
  });
}

void onRmdir(fuse_req_t req, fuse_ino_t parent, const char* name) {
  answer(req, [&] {
    fsOf(req).rmdir(parent, name);
    fuse_reply_err(req, 0);
  });
}

void onRename(fuse_req_t req, fuse_ino_t parent, const char* name, fuse_ino_t newParent, const char* newName,
              unsigned int flags) {
  answer(req, [&] {
    if (flags & RENAME_EXCHANGE) throw FsError(EINVAL);
    fsOf(req).rename(parent, name, newParent, newName, (flags & RENAME_NOREPLACE) != 0);
    fuse_reply_err(req, 0);
  });
}

void onStatfs(fuse_req_t req, fuse_ino_t) {
  struct statvfs st {};
  st.f_bsize = 4096;
  st.f_frsize = 4096;
  st.f_namemax = 255;
  fuse_reply_statfs(req, &st);
}

const fuse_lowlevel_ops kOps = [] {
  fuse_lowlevel_ops ops{};
  ops.init = onInit;
  ops.lookup = onLookup;
  ops.getattr = onGetattr;
  ops.setattr = onSetattr;
  ops.opendir = onOpendir;
  ops.readdir = onReaddir;
  ops.readdirplus = onReaddirplus;
  ops.releasedir = onReleasedir;
  ops.open = onOpen;
  ops.create = onCreate;
  ops.read = onRead;
  ops.write = onWrite;
  // No flush: a close has nothing to do before the release, and the kernel stops asking after the first
  // ENOSYS, which saves a round trip per close.
  ops.fsync = onFsync;
  ops.release = onRelease;
  ops.mkdir = onMkdir;
  ops.unlink = onUnlink;
  ops.rmdir = onRmdir;
  ops.rename = onRename;
  ops.statfs = onStatfs;
  addAttributeOps(ops);
  ops.mknod = [](fuse_req_t req, fuse_ino_t, const char*, mode_t, dev_t) { fuse_reply_err(req, EPERM); };
  ops.symlink = [](fuse_req_t req, const char*, fuse_ino_t, const char*) { fuse_reply_err(req, EPERM); };
  ops.link = [](fuse_req_t req, fuse_ino_t, fuse_ino_t, const char*) { fuse_reply_err(req, EPERM); };
  return ops;
}();

}  // namespace

FuseMount::FuseMount(DriveFs& fs, ItemAttributes& attributes, Options options)
    : targets_(std::make_unique<FuseTargets>(FuseTargets{fs, attributes})), options_(std::move(options)) {
  std::vector<std::string> words = {"davfp", "-o", "fsname=" + options_.fsname + ",subtype=davfp,noatime"};
  if (options_.debug) words.push_back("-d");
  std::vector<char*> argv;
  for (auto& w : words) argv.push_back(w.data());
  fuse_args args = FUSE_ARGS_INIT(static_cast<int>(argv.size()), argv.data());
  session_ = fuse_session_new(&args, &kOps, sizeof kOps, targets_.get());
  fuse_opt_free_args(&args);
  if (!session_)
    throw platform::Error(platform::kPOSIXErrorDomain, EINVAL, "the FUSE session could not be made");
}

FuseMount::~FuseMount() {
  exit();
  fuse_session_destroy(session_);
}

void FuseMount::mount(const std::string& mountpoint) {
  if (fuse_session_mount(session_, mountpoint.c_str()) != 0) {
    throw platform::Error(platform::kPOSIXErrorDomain, EIO, "cannot mount at " + mountpoint);
  }
  mounted_ = true;
}

void FuseMount::run() {
  fuse_loop_config* config = fuse_loop_cfg_create();
  fuse_loop_cfg_set_max_threads(config, 64);
  fuse_session_loop_mt(session_, config);
  fuse_loop_cfg_destroy(config);
  exit();
}

void FuseMount::exit() {
  if (!mounted_.exchange(false)) return;
  fuse_session_exit(session_);
  fuse_session_unmount(session_);
}

void FuseMount::notify(const Effects& effects) {
  std::set<Ino> folders;
  for (const auto& [parent, name] : effects.names) {
    fuse_lowlevel_notify_inval_entry(session_, parent, name.c_str(), name.size());
    folders.insert(parent);
  }
  // A folder whose names changed: its cached listing goes too.
  for (Ino folder : folders) fuse_lowlevel_notify_inval_inode(session_, folder, 0, 0);
  for (Ino ino : effects.changed) fuse_lowlevel_notify_inval_inode(session_, ino, 0, 0);
  for (Ino ino : effects.stale) fuse_lowlevel_notify_inval_inode(session_, ino, 0, 0);
}

}  // namespace davfp::mount
