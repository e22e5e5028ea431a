// Replica: the mount's own store of one drive, a private folder (mode 0700) under
// ${XDG_CACHE_HOME:-~/.cache}/davfp/: the journal, the materialised contents (one file per inode), the copies
// to be removed, and the folder where the engine's downloads land, all on one file system, so that a fetched
// file becomes the replica's copy by a rename. Thread-safe: it only names paths and makes folders.
#pragma once

#include <string>

#include "mount/node.h"

namespace davfp::mount {

class Replica {
 public:
  // The store of domain under the user's cache folder, made when missing. Throws platform::Error (POSIX)
  // when it cannot be made, or when there is no cache folder (no HOME).
  static Replica forDomain(const std::string& domain);
  // The store at folder, made when missing.
  explicit Replica(std::string folder);

  const std::string& folder() const { return folder_; }
  std::string journalPath() const { return folder_ + "/journal.db"; }
  std::string downloads() const { return folder_ + "/downloads"; }
  std::string contents(Ino ino) const;
  // Where copies go that are no longer wanted, until they are removed (see Trash).
  std::string trash() const { return folder_ + "/trash"; }
  // The bytes the materialised files take.
  int64_t size() const;

 private:
  std::string folder_;
};

}  // namespace davfp::mount
