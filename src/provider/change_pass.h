// ChangePass: one pass of change enumeration: every remembered folder is listed again and compared with its
// snapshot; what is new or changed is reported updated, what vanished deleted.
//
// A pass is delivered whole or not at all: what it finds (forgotten paths, new snapshots, identifiers of new
// items, the anchor's rise) is committed to the state in one step, just before it is reported. A pass that
// fails on any folder reports nothing and changes nothing, so the next pass finds the same changes again.
// A remembered folder that the server refuses to list (401, 403: access revoked) is no failure of the pass:
// it and everything below it are left out of it, their snapshots kept, so nothing in them is reported.
//
// A pass blocks (run it inside a job) and is used by one thread; the client, state and lookup it is given
// guard themselves and outlive it.
#pragma once

#include <memory>
#include <vector>

#include "dav/dav.h"
#include "platform/file_provider.h"
#include "provider/lookup.h"
#include "state/state.h"

namespace davfp {

class ChangePass {
 public:
  struct Changes {
    std::vector<platform::ItemRef> updated;
    std::vector<platform::ItemIdentifier> deleted;
  };

  ChangePass(std::shared_ptr<Dav> dav, State& state, const Lookup& lookup);

  // Lists and compares every remembered folder, parents before their subfolders, and commits what it found;
  // throws, committing nothing, when any listing fails.
  Changes run();

 private:
  const std::shared_ptr<Dav> dav_;
  State& state_;
  const Lookup& lookup_;
};

}  // namespace davfp
