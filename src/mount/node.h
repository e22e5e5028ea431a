// Node: one item of the drive as the mount's journal keeps it. Its inode number is the journal's row number:
// given once, when the item is first seen, and kept through renames and moves, as the item's identifier is.
#pragma once

#include <cstdint>
#include <string>

#include "platform/file_provider.h"

namespace davfp::mount {

using Ino = uint64_t;
inline constexpr Ino kRootIno = 1;  // the kernel's number for a mount's root

// Whether an item's contents are to stay in the replica. An item that inherits takes its folder's policy; a
// folder's policy covers everything below it that has none of its own, and the root inherits "unpinned".
enum class Policy { inherited = 0, pinned = 1, unpinned = 2 };

struct Node {
  Ino ino = 0;
  platform::ItemIdentifier identifier;
  Ino parent = 0;  // 0 for the root
  std::string name;
  bool folder = false;
  int64_t size = 0;
  int64_t mtimeNs = 0;  // the content modification date, nanoseconds since the epoch
  platform::ItemVersion version;
  // A file's contents are in the replica, at the content version they were fetched at (materialised) or
  // only described (dataless). A folder's children are known once it has been listed.
  bool materialised = false;
  bool listed = false;
  // Local changes: the replica's copy holds contents not yet sent (a count that rises with each change, so
  // that an upload can tell whether more came while it ran), and the item is not on the server yet (its
  // identifier is the mount's own until its creation is answered).
  int64_t dirty = 0;
  bool local = false;
  Policy policy = Policy::inherited;  // the item's own; Journal::pinned() tells the effective one
  // The 512-byte blocks the replica's copy takes on the disk: filled in by DriveFs for materialised files,
  // not kept in the journal.
  int64_t blocks = 0;
};

}  // namespace davfp::mount
