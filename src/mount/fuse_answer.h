// Answering a FUSE request from an operation that throws: the errno it failed with goes to the kernel.
#pragma once

#include <fuse_lowlevel.h>  // after the FUSE_USE_VERSION of the file that includes this

#include "mount/fs_error.h"

namespace davfp::mount {

// Runs an operation and answers the request with the errno it failed with.
template <class Op>
void answer(fuse_req_t req, Op op) {
  try {
    op();
  } catch (...) {
    fuse_reply_err(req, errnoOfCurrentException());
  }
}

}  // namespace davfp::mount
