#include "provider/snapshots.h"

#include <cstddef>

namespace davfp {

namespace {

// About the length of a version made from size and date, where an entry has no entity tag.
constexpr size_t kDateVersionSize = 24;

}  // namespace

FolderSnapshot snapshotOf(const std::vector<DavEntry>& children) {
  FolderSnapshot snapshot;
  size_t text = 0;
  for (const auto& entry : children) {
    text += entry.path.size() + (entry.etag ? entry.etag->size() : kDateVersionSize);
  }
  snapshot.reserve(children.size(), text);
  for (const auto& entry : children) snapshot.add(entry.path, entry.version());
  return snapshot;
}

}  // namespace davfp
