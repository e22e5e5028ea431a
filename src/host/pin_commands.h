// pin, unpin and evict: keeping a mounted drive's files offline and freeing the space they take. The mount
// is reached only through its folder, as any program reaches it: the extended attributes user.davfp.pinned
// and user.davfp.state of its items, and opening a file, which makes the mount fetch it.
//   pin     pins each PATH, then fetches every dataless file below it, 8 at a time, with a progress bar on
//           stderr when it is a terminal, and returns once they are all in (--no-wait: at once).
//   unpin   unpins each PATH.
//   evict   drops the local copy of each clean file (of every file below a folder); each file the mount
//           refused is named on stderr with why, and the status is then 1.
#pragma once

#include "host/interrupt.h"
#include "host/options.h"
#include "platform/env.h"

namespace davfp::cli {

int pin(const Options& options, platform::Env& env, Interrupt& interrupt);
int unpin(const Options& options, platform::Env& env);
int evict(const Options& options, platform::Env& env);

}  // namespace davfp::cli
