#define FUSE_USE_VERSION 312
#include "mount/fuse_xattr.h"

#include <fuse_lowlevel.h>
#include <sys/xattr.h>

#include <cerrno>
#include <string>

#include "mount/fs_error.h"
#include "mount/fuse_answer.h"
#include "mount/item_attributes.h"

namespace davfp::mount {

namespace {

ItemAttributes& attributesOf(fuse_req_t req) {
  return static_cast<FuseTargets*>(fuse_req_userdata(req))->attributes;
}

// A value, its size only (size 0), or ERANGE when it does not fit.
void replyValue(fuse_req_t req, const std::string& value, size_t size) {
  if (size == 0) {
    fuse_reply_xattr(req, value.size());
  } else if (size < value.size()) {
    fuse_reply_err(req, ERANGE);
  } else {
    fuse_reply_buf(req, value.data(), value.size());
  }
}

void onGetxattr(fuse_req_t req, fuse_ino_t ino, const char* name, size_t size) {
  answer(req, [&] { replyValue(req, attributesOf(req).get(ino, name), size); });
}

void onListxattr(fuse_req_t req, fuse_ino_t ino, size_t size) {
  answer(req, [&] { replyValue(req, attributesOf(req).names(ino), size); });
}

void onSetxattr(fuse_req_t req, fuse_ino_t ino, const char* name, const char* value, size_t size, int flags) {
  answer(req, [&] {
    attributesOf(req).set(ino, name, std::string_view(value, size), (flags & XATTR_CREATE) != 0);
    fuse_reply_err(req, 0);
  });
}

void onRemovexattr(fuse_req_t req, fuse_ino_t ino, const char* name) {
  answer(req, [&] {
    attributesOf(req).remove(ino, name);
    fuse_reply_err(req, 0);
  });
}

}  // namespace

void addAttributeOps(fuse_lowlevel_ops& ops) {
  ops.getxattr = onGetxattr;
  ops.listxattr = onListxattr;
  ops.setxattr = onSetxattr;
  ops.removexattr = onRemovexattr;
}

}  // namespace davfp::mount
