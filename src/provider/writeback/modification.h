// Modification: a change made locally to an item, written to the server. A new name or folder becomes one
// MOVE straight to the final place, new contents a PUT there; the item is then read back, noted in its
// folder's snapshot and handed to the platform.
//
// There is no conflict detection: the base version is not consulted and the local change replaces what the
// server holds. Fields that cannot be written to a WebDAV server are reported back as still pending.
// Blocks (run it inside a job); the client, state and lookup it is given guard themselves and outlive it.
#pragma once

#include <optional>
#include <string>
#include <utility>

#include "dav/dav.h"
#include "platform/file_provider.h"
#include "provider/item.h"
#include "provider/lookup.h"
#include "state/state.h"

namespace davfp {

class Modification {
 public:
  Modification(Dav& dav, State& state, const Lookup& lookup) : dav_(dav), state_(state), lookup_(lookup) {}

  // Writes the changed fields of the item (its name and parent, its contents from the file contents); the
  // item as the server then holds it, and the fields left pending.
  std::pair<ItemPtr, platform::ItemFields> modify(const platform::ItemProtocol& item,
                                                  platform::ItemFields changedFields,
                                                  const std::optional<std::string>& contents);

 private:
  Dav& dav_;
  State& state_;
  const Lookup& lookup_;
};

}  // namespace davfp
