// The kernel's requests for extended attributes (get, set, list, remove), answered by ItemAttributes, with
// the kernel's protocol for sizes: a request of size 0 asks how large the value is, a buffer too small for
// it is ERANGE.
#pragma once

struct fuse_lowlevel_ops;

namespace davfp::mount {

class DriveFs;
class ItemAttributes;

// What each request's userdata points to.
struct FuseTargets {
  DriveFs& fs;
  ItemAttributes& attributes;
};

void addAttributeOps(fuse_lowlevel_ops& ops);

}  // namespace davfp::mount
