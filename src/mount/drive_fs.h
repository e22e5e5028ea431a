// DriveFs: the file system operations of the mount, on the journal, the outbox, the replica and the
// platform's client of the extension, in the kernel's terms (inodes, names, errno) but free of FUSE's types.
// Folders are listed from the server the first time they are looked into and from the journal afterwards (the
// change passes keep them current); files are dataless until opened: the first open fetches the contents into
// the replica. Local changes go to the replica's copy and into the outbox before the call returns; the
// uploader sends them. What the journal learns from the server that the kernel may have cached goes to
// notify. Failures are thrown as FsError. Thread-safe: the kernel's requests come on many threads.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "client/platform_client.h"
#include "mount/folder_prefetch.h"
#include "mount/journal.h"
#include "mount/node.h"
#include "mount/outbox.h"
#include "mount/replica.h"
#include "mount/replica_limit.h"
#include "mount/trash.h"
#include "platform/mutex.h"

namespace davfp::mount {

// A file a program opened: the replica's copy, and whether this opening wrote to it.
struct OpenFile {
  int fd = -1;
  Ino ino = 0;
  bool writable = false;
  bool changed = false;
  bool timesSet = false;  // the program set the modification time after its last write
};

class DriveFs {
 public:
  using Notify = std::function<void(const Effects&)>;
  using Log = std::function<void(const std::string&)>;

  // wake: tells the uploader that something was queued. quietMs: how long after the last writer closes a file
  // it is sent, so that an editor's write-then-rename is one upload.
  DriveFs(client::PlatformClient& platform, Journal& journal, Outbox& outbox, const Replica& replica,
          Notify notify, std::function<void(int64_t afterMs)> wake, Log log, int64_t quietMs = 300);

  // cancel: the kernel's interrupt of the request, which cancels a listing or a fetch that it waits for.
  Node lookup(Ino parent, const std::string& name, std::stop_token cancel = {});
  // The item's attributes; a file with local changes has its replica copy's size.
  Node attributes(Ino ino);
  // The folder's children by name, listed from the server when the journal has not listed it yet; the
  // folders among them that were never listed are listed ahead, in the background.
  std::vector<Node> children(Ino folder, std::stop_token cancel = {});

  // Opens a file (fetched first when dataless and not truncated); the caller releases it.
  std::unique_ptr<OpenFile> open(Ino ino, int flags, std::stop_token cancel = {});
  // A new file, open for writing, or a new folder.
  std::pair<Node, std::unique_ptr<OpenFile>> create(Ino parent, const std::string& name);
  Node mkdir(Ino parent, const std::string& name);
  size_t write(OpenFile& file, const char* data, size_t size, off_t offset);
  // The last writer's close sends the file after the quiet time. fsync sends it after the quiet time too, and
  // puts the copy and the journal on the disk.
  void release(std::unique_ptr<OpenFile> file);
  // Whether a program has the item open for writing.
  bool openForWriting(Ino ino);
  void fsync(OpenFile& file);
  // setattr: a new size (a truncation, fetched first when dataless) and a new modification time.
  Node setAttributes(Ino ino, std::optional<off_t> size, std::optional<int64_t> mtimeNs, OpenFile* file);
  void unlink(Ino parent, const std::string& name);
  void rmdir(Ino parent, const std::string& name);
  // noReplace: fail with EEXIST instead of replacing what holds the new name.
  void rename(Ino parent, const std::string& name, Ino newParent, const std::string& newName, bool noReplace);

  // One change pass of the working set from the journal's anchor, applied to the journal; then the changed
  // and new files that are pinned are fetched.
  void changePass();
  // Keeps the replica's copies under maxBytes from now on (see ReplicaLimit); none until called.
  void limitReplica(int64_t maxBytes);
  const ReplicaLimit* replicaLimit() const { return limit_.get(); }

  // Frees the space a clean file takes in the replica: its copy goes and it is dataless again, to be fetched
  // at its next open. FsError EBUSY when a program has it open for writing, and for what Journal::evict
  // refuses. A program that has it open for reading goes on reading the copy it opened. Nothing happens to a
  // dataless file.
  void evict(Ino ino);

 private:
  struct Transfer;
  // Runs work once for an item's listing or fetch while other callers for the same wait for it and share its
  // outcome.
  enum class Kind { listing, fetch };
  template <class Work>
  void once(Kind kind, Ino key, Work work);
  Node folder(Ino ino, std::stop_token cancel = {});
  // A file with local changes has the size of its replica copy, which the journal does not follow; a
  // materialised file the blocks its copy takes.
  Node withReplicaCopy(Node node) const;
  // Counts a use of the file's replica copy (an open, a file open for writing, a truncation): no eviction
  // runs meanwhile.
  void holdContents(Ino ino);
  void releaseContents(Ino ino);
  struct ContentsUse;  // holds the count for a scope, or longer when kept
  void list(const Node& folder, std::stop_token cancel);
  void materialise(const Node& file, std::stop_token cancel = {});
  // Evicts the file's copy to make room, unless a program has it open or it is to stay; whether it did.
  bool evictForSpace(Ino ino);
  // After a change pass: the changed and new files that are to stay in the replica are fetched now.
  void fetchPinned(const std::vector<platform::ItemRef>& updated);
  // Drops stale replica copies and tells the kernel (server news only: the kernel knows its own changes).
  void apply(const Effects& effects, bool tellKernel);

  client::PlatformClient& platform_;
  Journal& journal_;
  Outbox& outbox_;
  const Replica& replica_;
  const Notify notify_;
  const std::function<void(int64_t afterMs)> wake_;
  const Log log_;
  const int64_t quietMs_;
  platform::Mutex mu_;
  std::map<Ino, std::shared_ptr<Transfer>> fetching_ GUARDED_BY(mu_);
  std::map<Ino, std::shared_ptr<Transfer>> listing_ GUARDED_BY(mu_);
  std::map<Ino, int> writers_ GUARDED_BY(mu_);  // open writable files per item
  std::map<Ino, int> opens_ GUARDED_BY(mu_);    // open files per item
  // Held by an eviction for its whole course and by the count of a new use, so that no use begins with a
  // copy that an eviction takes away. Taken before mu_ or the journal's lock, never while holding them.
  platform::Mutex contentsMu_;
  std::map<Ino, int> uses_ GUARDED_BY(contentsMu_);  // uses of the replica copy per item
  Trash trash_;                                      // the replica's copies that are no longer wanted
  FolderPrefetch prefetch_;                          // its listings end before the rest goes
  std::unique_ptr<ReplicaLimit> limit_;              // last: its evictions end before the rest goes
};

}  // namespace davfp::mount
