// ReplicaLimit: keeps the replica's copies under a size. Above it, the copies of clean, unpinned files that no
// program has open are evicted, least recently used first, down to nine tenths of the limit. What cannot go
// (pinned files, changes not sent yet, open files) stays, and the log says so once.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <thread>

#include "mount/journal.h"
#include "mount/replica.h"
#include "platform/mutex.h"

namespace davfp::mount {

class ReplicaLimit {
 public:
  // evict: drops the item's copy when it may go now, and says whether it did.
  ReplicaLimit(int64_t maxBytes, Journal& journal, const Replica& replica, std::function<bool(Ino)> evict,
               std::function<void(const std::string&)> log);
  ~ReplicaLimit();

  // A program opened the file: it is the most recently used.
  void noteUse(Ino ino);
  // The replica may have grown: checked soon, on the limit's own thread.
  void check();
  // Checks now, on the caller's thread.
  void enforce();

  int64_t maxBytes() const { return maxBytes_; }
  // Whether what cannot be evicted alone took more than the limit at the last check.
  bool over() const;

  // A tenth of the file system that holds folder, at most 20 GiB.
  static int64_t defaultFor(const std::string& folder);

 private:
  const int64_t maxBytes_;
  Journal& journal_;
  const Replica& replica_;
  const std::function<bool(Ino)> evict_;
  const std::function<void(const std::string&)> log_;
  mutable platform::Mutex mu_;
  platform::StoppableCondVar cv_;
  std::map<Ino, uint64_t> lastUse_ GUARDED_BY(mu_);
  uint64_t uses_ GUARDED_BY(mu_) = 0;
  bool asked_ GUARDED_BY(mu_) = false;
  bool over_ GUARDED_BY(mu_) = false;
  int64_t evictions_ GUARDED_BY(mu_) = 0;  // since the mount started
  bool noted_ GUARDED_BY(mu_) = false;     // the journal knows the limit
  std::jthread thread_;  // last: it runs on everything above
};

}  // namespace davfp::mount
