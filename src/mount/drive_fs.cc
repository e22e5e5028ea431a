#include "mount/drive_fs.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>

#include "mount/fs_error.h"
#include "platform/text.h"

namespace davfp::mount {

namespace {

// A new name must be one the server can take: UTF-8 (the kernel keeps "/", "." and ".." out already).
void checkName(const std::string& name) {
  if (!platform::isValidUtf8(name)) throw FsError(EINVAL);
}

int64_t nowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

}  // namespace

// One transfer that several requests wait for: the first runs it, the others wait for its outcome.
struct DriveFs::Transfer {
  platform::Mutex mu;
  platform::CondVar done;
  bool finished GUARDED_BY(mu) = false;
  int err GUARDED_BY(mu) = 0;

  void finish(int e) {
    platform::MutexLock lock(mu);
    finished = true;
    err = e;
    done.notifyAll();
  }
  int wait() {
    platform::MutexLock lock(mu);
    while (!finished) done.wait(mu);
    return err;
  }
};

template <class Work>
void DriveFs::once(Kind kind, Ino key, Work work) {
  std::shared_ptr<Transfer> fetch;
  bool mine = false;
  {
    platform::MutexLock lock(mu_);
    auto& slot = (kind == Kind::listing ? listing_ : fetching_)[key];
    if (!slot) {
      slot = std::make_shared<Transfer>();
      mine = true;
    }
    fetch = slot;
  }
  if (!mine) {
    if (int err = fetch->wait()) throw FsError(err);
    return;
  }
  int err = 0;
  try {
    work();
  } catch (...) {
    err = errnoOfCurrentException();
  }
  {
    platform::MutexLock lock(mu_);
    (kind == Kind::listing ? listing_ : fetching_).erase(key);
  }
  fetch->finish(err);
  if (err) throw FsError(err);
}

DriveFs::DriveFs(client::PlatformClient& platform, Journal& journal, Outbox& outbox, const Replica& replica,
                 Notify notify, std::function<void(int64_t afterMs)> wake, Log log, int64_t quietMs)
    : platform_(platform),
      journal_(journal),
      outbox_(outbox),
      replica_(replica),
      notify_(std::move(notify)),
      wake_(std::move(wake)),
      log_(std::move(log)),
      quietMs_(quietMs),
      trash_(replica.trash()),
      prefetch_([this](Ino folder, std::stop_token stop) {
        try {
          this->folder(folder, stop);
        } catch (...) {
          // Logged by the listing; a program that asks for the folder lists it again.
        }
      }) {}

Node DriveFs::attributes(Ino ino) {
  auto node = journal_.node(ino);
  if (!node) throw FsError(ENOENT);
  return withReplicaCopy(std::move(*node));
}

Node DriveFs::withReplicaCopy(Node node) const {
  if (!node.folder && node.materialised) {
    struct stat st {};
    if (::stat(replica_.contents(node.ino).c_str(), &st) == 0) {
      if (node.dirty != 0 || node.local) node.size = st.st_size;
      node.blocks = st.st_blocks;
    }
  }
  return node;
}

struct DriveFs::ContentsUse {
  ContentsUse(DriveFs& owner, Ino item) : fs(owner), ino(item) { fs.holdContents(ino); }
  ~ContentsUse() {
    if (!kept) fs.releaseContents(ino);
  }
  DriveFs& fs;
  const Ino ino;
  bool kept = false;
};

void DriveFs::holdContents(Ino ino) {
  platform::MutexLock lock(contentsMu_);
  ++uses_[ino];
}

void DriveFs::releaseContents(Ino ino) {
  platform::MutexLock lock(contentsMu_);
  if (--uses_[ino] <= 0) uses_.erase(ino);
}

Node DriveFs::folder(Ino ino, std::stop_token cancel) {
  Node node = attributes(ino);
  if (!node.folder) throw FsError(ENOTDIR);
  if (!node.listed) {
    list(node, cancel);
    node = attributes(ino);
  }
  return node;
}

Node DriveFs::lookup(Ino parent, const std::string& name, std::stop_token cancel) {
  folder(parent, cancel);
  auto child = journal_.child(parent, name);
  if (!child) throw FsError(ENOENT);
  return withReplicaCopy(std::move(*child));
}

std::vector<Node> DriveFs::children(Ino ino, std::stop_token cancel) {
  folder(ino, cancel);
  auto nodes = journal_.children(ino);
  std::vector<Ino> unlisted;
  for (auto& node : nodes) {
    if (node.folder && !node.listed) unlisted.push_back(node.ino);
    node = withReplicaCopy(std::move(node));
  }
  if (!unlisted.empty()) prefetch_.add(unlisted);
  return nodes;
}

void DriveFs::list(const Node& node, std::stop_token cancel) {
  once(Kind::listing, node.ino, [&] {
    try {
      apply(journal_.applyListing(node.ino, platform_.cancelledBy(cancel).enumerate(node.identifier)), true);
    } catch (const platform::Error& e) {
      log_("listing " + node.name + " failed: " + e.what());
      throw;
    }
  });
}

std::unique_ptr<OpenFile> DriveFs::open(Ino ino, int flags, std::stop_token cancel) {
  const bool writable = (flags & O_ACCMODE) != O_RDONLY;
  const bool truncate = writable && (flags & O_TRUNC);
  // Counted before the journal is asked whether the copy is there, so that no eviction takes it after; the
  // open file keeps the count until it is released.
  ContentsUse held(*this, ino);
  for (int attempt = 0; attempt < 3; ++attempt) {
    Node node = attributes(ino);
    if (node.folder) throw FsError(EISDIR);
    if (!node.materialised && !truncate) {
      try {
        materialise(node, cancel);
      } catch (const FsError& e) {
        // Another request's fetch that its program interrupted: this one fetches again.
        if (e.err() != EINTR || cancel.stop_requested()) throw;
      }
      continue;
    }
    auto file = std::make_unique<OpenFile>();
    file->ino = ino;
    file->writable = writable;
    int mode = writable ? O_RDWR | O_CREAT : O_RDONLY;
    file->fd = ::open(replica_.contents(ino).c_str(), mode | O_CLOEXEC | (truncate ? O_TRUNC : 0), 0600);
    if (file->fd < 0) {
      if (errno == ENOENT) continue;  // dropped as stale meanwhile: fetch it again
      throw FsError(errno);
    }
    {
      platform::MutexLock lock(mu_);
      ++opens_[ino];
      if (writable) ++writers_[ino];
    }
    if (limit_) limit_->noteUse(ino);
    // Opened for writing counts as changed from here on: a new server version arriving before the first
    // write then keeps both versions, instead of the copy being dropped under the program or its
    // writes replacing the newer version unseen.
    if (writable) {
      outbox_.changed(ino);
      file->changed = true;
    }
    // A file open for writing keeps its copy until it is released. One open for reading may lose it to an
    // eviction: the program goes on reading the copy it opened, whose space is freed when it closes it.
    held.kept = writable;
    return file;
  }
  throw FsError(EIO);
}

std::pair<Node, std::unique_ptr<OpenFile>> DriveFs::create(Ino parent, const std::string& name) {
  checkName(name);
  folder(parent);
  Node node = outbox_.create(parent, name, false);
  auto file = std::make_unique<OpenFile>();
  file->ino = node.ino;
  file->writable = true;
  file->changed = true;
  file->fd = ::open(replica_.contents(node.ino).c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (file->fd < 0) throw FsError(errno);
  holdContents(node.ino);
  platform::MutexLock lock(mu_);
  ++writers_[node.ino];
  ++opens_[node.ino];
  return {node, std::move(file)};
}

Node DriveFs::mkdir(Ino parent, const std::string& name) {
  checkName(name);
  folder(parent);
  Node node = outbox_.create(parent, name, true);
  wake_(0);
  return node;
}

size_t DriveFs::write(OpenFile& file, const char* data, size_t size, off_t offset) {
  if (!file.changed) {
    outbox_.changed(file.ino);  // in the journal before the first byte lands
    file.changed = true;
  }
  ssize_t n = ::pwrite(file.fd, data, size, offset);
  if (n < 0) throw FsError(errno);
  file.timesSet = false;
  return static_cast<size_t>(n);
}

void DriveFs::release(std::unique_ptr<OpenFile> file) {
  // As on a local file system, closing is no promise that the contents are on the disk (fsync is): the
  // journal and the copy survive a crash of the mount at once, and the sender syncs the copy before it sends
  // it.
  ::close(file->fd);
  {
    platform::MutexLock lock(mu_);
    if (--opens_[file->ino] <= 0) opens_.erase(file->ino);
  }
  if (!file->writable) return;
  releaseContents(file->ino);
  // Written and closed: modified now, unless the program set the time itself after its last write.
  std::optional<int64_t> modified;
  if (file->changed && !file->timesSet) modified = nowNs();
  bool last = false;
  {
    platform::MutexLock lock(mu_);
    last = --writers_[file->ino] == 0;
    if (last) writers_.erase(file->ino);
  }
  if (last) {
    outbox_.closed(file->ino, quietMs_, modified);
    wake_(quietMs_);
  } else if (modified) {
    outbox_.setModificationTime(file->ino, *modified);
  }
}

bool DriveFs::openForWriting(Ino ino) {
  platform::MutexLock lock(mu_);
  return writers_.count(ino) != 0;
}

void DriveFs::fsync(OpenFile& file) {
  if (::fsync(file.fd) != 0) throw FsError(errno);
  if (file.changed) {
    outbox_.closed(file.ino, quietMs_);
    wake_(quietMs_);
  }
  outbox_.sync();
}

Node DriveFs::setAttributes(Ino ino, std::optional<off_t> size, std::optional<int64_t> mtimeNs,
                            OpenFile* file) {
  Node node = attributes(ino);
  if (size && !node.folder) {
    ContentsUse held(*this, ino);
    node = attributes(ino);
    if (!node.materialised && *size != 0) materialise(node);
    outbox_.changed(ino);
    int rc = file ? ::ftruncate(file->fd, *size) : ::truncate(replica_.contents(ino).c_str(), *size);
    if (rc != 0 && errno == ENOENT && *size == 0) {
      int fd = ::open(replica_.contents(ino).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
      rc = fd < 0 ? -1 : ::close(fd);
    }
    if (rc != 0) throw FsError(errno);
    if (file) file->changed = true;
    bool open;
    {
      platform::MutexLock lock(mu_);
      open = writers_.count(ino) != 0;
    }
    if (!open) {
      outbox_.closed(ino, quietMs_);
      wake_(quietMs_);
    }
  }
  if (mtimeNs) {
    outbox_.setModificationTime(ino, *mtimeNs);
    if (file) file->timesSet = true;
  }
  return attributes(ino);
}

void DriveFs::unlink(Ino parent, const std::string& name) {
  Node node = lookup(parent, name);
  if (node.folder) throw FsError(EISDIR);
  apply(outbox_.remove(node.ino), false);
  wake_(0);
}

void DriveFs::rmdir(Ino parent, const std::string& name) {
  Node node = lookup(parent, name);
  if (!node.folder) throw FsError(ENOTDIR);
  if (!children(node.ino).empty()) throw FsError(ENOTEMPTY);
  apply(outbox_.remove(node.ino), false);
  wake_(0);
}

void DriveFs::rename(Ino parent, const std::string& name, Ino newParent, const std::string& newName,
                     bool noReplace) {
  checkName(newName);
  Node node = lookup(parent, name);
  folder(newParent);
  if (auto holder = journal_.child(newParent, newName); holder && holder->folder && holder->ino != node.ino) {
    if (!children(holder->ino).empty()) throw FsError(ENOTEMPTY);
  }
  apply(outbox_.rename(node.ino, newParent, newName, !noReplace), false);
  wake_(0);
}

void DriveFs::materialise(const Node& node, std::stop_token cancel) {
  once(Kind::fetch, node.ino, [&] {
    log_("fetching " + node.name);
    client::PlatformClient::Fetched fetched;
    try {
      fetched = platform_.cancelledBy(cancel).fetch(node.identifier, std::nullopt);
    } catch (const platform::Error& e) {
      log_("fetching " + node.name + " failed: " + e.what());
      throw;
    }
    if (std::rename(fetched.file.c_str(), replica_.contents(node.ino).c_str()) != 0) {
      int err = errno;
      std::remove(fetched.file.c_str());
      throw FsError(err);
    }
    journal_.setMaterialised(node.ino, *fetched.item);
    log_("fetched " + node.name + " (" + std::to_string(fetched.item->documentSize().value_or(0)) +
         " bytes)");
    // The kernel's attributes go: the blocks the copy takes now, a size the server changed meanwhile.
    Effects effects;
    effects.changed.push_back(node.ino);
    notify_(effects);
  });
  if (limit_) limit_->check();
}

bool DriveFs::evictForSpace(Ino ino) {
  {
    platform::MutexLock lock(mu_);
    if (opens_.count(ino) != 0) return false;
  }
  try {
    evict(ino);
    return true;
  } catch (const FsError&) {
    return false;  // pinned, not sent yet, or in use
  }
}

void DriveFs::limitReplica(int64_t maxBytes) {
  limit_ = std::make_unique<ReplicaLimit>(
      maxBytes, journal_, replica_, [this](Ino ino) { return evictForSpace(ino); }, log_);
  limit_->check();
}

void DriveFs::evict(Ino ino) {
  platform::MutexLock lock(contentsMu_);
  if (uses_.count(ino) != 0) throw FsError(EBUSY);
  if (!journal_.evict(ino)) return;
  // The journal says dataless first: a copy left behind by a crash here is never read, but a journal that
  // said materialised without the copy would fail the next open.
  trash_.put(replica_.contents(ino));
  log_("evicted inode " + std::to_string(ino));
  Effects effects;
  effects.changed.push_back(ino);  // the kernel's cached pages and blocks go too
  notify_(effects);
}

void DriveFs::changePass() {
  client::PlatformClient::Changes changes;
  try {
    changes = platform_.changes(platform::kWorkingSetContainerItemIdentifier, journal_.anchor());
  } catch (const platform::Error& e) {
    journal_.notePass(std::time(nullptr), e.what());
    throw;
  }
  std::vector<platform::ItemRef> updated;
  std::vector<platform::ItemIdentifier> deleted;
  for (auto& change : changes.changes) {
    if (change.updated)
      updated.push_back(std::move(change.updated));
    else if (change.deleted)
      deleted.push_back(std::move(*change.deleted));
  }
  apply(journal_.applyChanges(updated, deleted, changes.anchor), true);
  journal_.notePass(std::time(nullptr), "");
  fetchPinned(updated);
  if (limit_) limit_->check();
}

void DriveFs::fetchPinned(const std::vector<platform::ItemRef>& updated) {
  for (const auto& item : updated) {
    auto node = journal_.byIdentifier(item->itemIdentifier());
    if (!node || node->folder || node->materialised || !journal_.pinned(node->ino)) continue;
    try {
      ContentsUse held(*this, node->ino);
      materialise(*node);
    } catch (const std::exception&) {
      // Logged by the fetch; the file stays dataless until its next open or the next change.
    }
  }
}

void DriveFs::apply(const Effects& effects, bool tellKernel) {
  for (Ino ino : effects.stale) trash_.put(replica_.contents(ino));
  for (const auto& name : effects.conflicts) log_("conflict: kept the local version as " + name);
  if (tellKernel && !effects.empty()) notify_(effects);
  if (!effects.conflicts.empty()) wake_(0);
}

}  // namespace davfp::mount
