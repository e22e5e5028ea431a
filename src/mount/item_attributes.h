// ItemAttributes: the extended attributes every item of the mount has, through which programs and the davfp
// command line keep files offline and free up space:
//   user.davfp.pinned  "1" or "0": whether the item is to stay in the replica (its own policy or its
//                      folder's). Writing "1" pins, "0" unpins; removing it makes the item inherit again.
//   user.davfp.state   "dataless", "materialised", "pending" or "conflict" (Journal::state). Read only,
//                      but for one request: writing "dataless" evicts the file (DriveFs::evict).
// Other names are not kept: FsError ENOTSUP, so that programs copying attributes carry on without them.
#pragma once

#include <string>
#include <string_view>

#include "mount/drive_fs.h"
#include "mount/journal.h"
#include "mount/node.h"

namespace davfp::mount {

inline constexpr const char* kPinnedAttribute = "user.davfp.pinned";
inline constexpr const char* kStateAttribute = "user.davfp.state";

class ItemAttributes {
 public:
  ItemAttributes(Journal& journal, DriveFs& fs);

  // The item's names, each ending in a NUL, as listxattr gives them.
  std::string names(Ino ino);
  std::string get(Ino ino, const std::string& name);
  // A bad value is EINVAL; createOnly (XATTR_CREATE) is EEXIST, as every item has both attributes.
  void set(Ino ino, const std::string& name, std::string_view value, bool createOnly);
  // The state cannot be removed (EPERM).
  void remove(Ino ino, const std::string& name);

 private:
  Journal& journal_;
  DriveFs& fs_;
};

}  // namespace davfp::mount
