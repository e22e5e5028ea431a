// What the state remembers of the entries that a listing gives: each child's path and version. Pure
// function; safe from any thread.
#pragma once

#include <vector>

#include "dav/entry.h"
#include "state/folder_snapshot.h"

namespace davfp {

// The snapshot of a folder whose children are these entries: each entry's path and version
// (DavEntry::version), the first of equal paths winning.
FolderSnapshot snapshotOf(const std::vector<DavEntry>& children);

}  // namespace davfp
