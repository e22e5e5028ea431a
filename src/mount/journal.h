// Journal: what the server says, applied to the mount's journal (JournalDb): listings of folders, change
// passes of the working set, fetched contents. Each is one transaction, so that the journal after a crash is
// as it was after some event. Local work wins over what the server says about the same item until it is sent:
// an item with changes still to be sent keeps its place, a deleted item that is still to be deleted on the
// server is not brought back, a local item is never forgotten, and when the server changed a file whose local
// copy has unsent changes, both versions are kept: the server's under the name, the local one beside it under
// a conflict name (conflict_name.h), to be created on the server. Thread-safe (through the JournalDb's lock).
#pragma once

#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "mount/journal_db.h"
#include "mount/node.h"
#include "platform/file_provider.h"

namespace davfp::mount {

// What an event altered, for the kernel's caches and the replica.
struct Effects {
  std::vector<Ino> changed;                        // attributes or contents
  std::vector<std::pair<Ino, std::string>> names;  // (folder, name) that appeared or went
  std::vector<Ino> stale;                          // replica copies that are out of date or forgotten
  std::vector<std::string> conflicts;              // conflict names given, for the log

  bool empty() const { return changed.empty() && names.empty() && stale.empty(); }
};

// What an item's contents are now: only described (a file never fetched or evicted; a folder never listed),
// in the replica as the server has them, changed here and not sent yet (or not on the server at all), or the
// local version of a file that changed on both sides, kept beside the server's under a conflict name (one of
// the latest conflicts, while it keeps that name).
enum class ItemState { dataless, materialised, pending, conflict };

class Journal {
 public:
  // now: the wall clock, for the dates of conflict names.
  explicit Journal(
      JournalDb& db, std::function<std::time_t()> now = [] { return std::time(nullptr); });

  std::optional<Node> node(Ino ino);
  std::optional<Node> byIdentifier(const platform::ItemIdentifier& identifier);
  std::vector<Ino> materialisedFiles();
  std::optional<Node> child(Ino parent, const std::string& name);
  std::vector<Node> children(Ino parent);

  // Makes the folder's children those of a listing: known items keep their inodes (and move here when they
  // were elsewhere), new ones get theirs, children the listing lacks are forgotten. Marks the folder listed.
  Effects applyListing(Ino folder, const std::vector<platform::ItemRef>& items);
  // Applies one change pass and saves its anchor: updated items (under a listed parent; others are left for
  // the listing of their folder) and deleted identifiers.
  Effects applyChanges(const std::vector<platform::ItemRef>& updated,
                       const std::vector<platform::ItemIdentifier>& deleted,
                       const platform::SyncAnchor& anchor);
  // Records that the file's contents at item's version are in the replica (unless it changed locally since).
  void setMaterialised(Ino ino, const platform::ItemProtocol& item);
  // Marks a folder to be listed again when next looked into.
  void unlist(Ino folder);

  // Sets the item's own policy (Policy::inherited: its folder's again). FsError ENOENT when it is gone.
  void setPolicy(Ino ino, Policy policy);
  // Whether the item is to stay in the replica: its own policy, else that of its nearest folder with one.
  bool pinned(Ino ino);
  ItemState state(Ino ino);
  // Makes a file dataless again, so that its replica copy can go (the caller removes it). Only a file the
  // server holds as it is here: FsError EBUSY for unsent changes, an item not on the server yet or a pinned
  // item, EISDIR for a folder, ENOENT when it is gone. Returns whether the file was materialised.
  bool evict(Ino ino);

  // Records how the latest change pass went (empty error: it succeeded), for davfp status and sync-now.
  void notePass(std::time_t when, const std::string& error);
  // The replica's limit, the evictions made to keep under it since the mount started, and whether what
  // cannot be evicted alone took more, for davfp status.
  void noteReplicaLimit(int64_t maxBytes, int64_t evictions, bool over);

  platform::SyncAnchor anchor();
  int64_t count();

 private:
  JournalDb& db_;
  const std::function<std::time_t()> now_;
};

}  // namespace davfp::mount
