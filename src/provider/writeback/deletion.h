// Deletion: a file or a whole folder tree deleted locally, deleted on the server member by member, deepest
// first, and forgotten by the state once nothing of it is left.
//
// What changed on the server since the platform last saw it is not deleted: a file whose version differs
// from the one the platform deleted, and inside a folder anything new or changed since the folder's snapshot.
// Nothing is deleted unless the whole tree below the top could be listed; and a folder is deleted only when
// its listing just before shows nothing that this deletion did not delete already (what appeared meanwhile
// stays, and so does its folder). A member that cannot be deleted keeps every folder above it; the rest is
// still deleted and the request fails with directoryNotEmpty. The state changes only when the deletion is
// complete.
//
// Blocks (run it inside a job); the client, state and lookup it is given guard themselves and outlive it.
#pragma once

#include <string>

#include "dav/dav.h"
#include "platform/file_provider.h"
#include "platform/text.h"
#include "provider/lookup.h"
#include "state/state.h"

namespace davfp {

class Deletion {
 public:
  Deletion(Dav& dav, State& state, const Lookup& lookup) : dav_(dav), state_(state), lookup_(lookup) {}

  // Deletes the item (a folder only when recursive, or when it is empty) if it is still as the platform saw
  // it: its content version baseContentVersion, or kBeforeFirstSyncComponent for any. An identifier the state
  // does not know is nothing to delete. Throws platform::Cancelled, having deleted what it had, when the
  // calling job is cancelled.
  void remove(const platform::ItemIdentifier& identifier, const std::string& baseContentVersion,
              bool recursive);

 private:
  // Deletes an entry on the server, member by member, deepest first; throws when something must stay.
  void deleteTree(const DavEntry& top, const std::string& baseContentVersion, bool recursive);

  Dav& dav_;
  State& state_;
  const Lookup& lookup_;
};

}  // namespace davfp
