// Journal: the mount's memory of the drive, in SQLite: every item it has seen (its identifier, parent, name,
// type, size, date, versions, whether its contents are in the replica) and the sync anchor of the last change
// pass. It is the platform's own record, apart from the engine's state: each platform event (a listing, a
// change pass, a fetch) is one transaction, so that the journal after a crash is as it was after some event.
// Thread-safe: one connection, its callers serialised.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "mount/node.h"
#include "mount/sqlite_db.h"
#include "platform/file_provider.h"
#include "platform/mutex.h"

namespace davfp::mount {

class Journal {
 public:
  // Opens the journal at path, making it (with the root) when it is new.
  explicit Journal(const std::string& path);
  ~Journal();

  std::optional<Node> node(Ino ino);
  std::optional<Node> child(Ino parent, const std::string& name);
  std::vector<Node> children(Ino parent);

  // What a listing or a change pass altered, for the kernel's caches: inodes whose attributes or contents
  // changed, and names that appeared or went (parent, name).
  struct Effects {
    std::vector<Ino> changed;
    std::vector<std::pair<Ino, std::string>> names;
    std::vector<Ino> stale;  // materialised files whose replica copy is out of date or forgotten
  };

  // Makes the folder's children those of a listing: items already known keep their inodes (and move here
  // when they were elsewhere), new ones get theirs, and children the listing lacks are forgotten. Marks the
  // folder listed.
  Effects applyListing(Ino folder, const std::vector<platform::ItemRef>& items);
  // Applies one change pass and saves its anchor: updated items (under a parent the journal knows; others
  // are left for the listing of their folder) and deleted identifiers.
  Effects applyChanges(const std::vector<platform::ItemRef>& updated,
                       const std::vector<platform::ItemIdentifier>& deleted,
                       const platform::SyncAnchor& anchor);
  // Records that the file's contents at item's version are in the replica.
  void setMaterialised(Ino ino, const platform::ItemProtocol& item);

  platform::SyncAnchor anchor();
  // How many items the journal holds, the root included.
  int64_t count();

 private:
  struct Impl;
  platform::Mutex mu_;
  std::unique_ptr<Impl> impl_ GUARDED_BY(mu_);
};

}  // namespace davfp::mount
