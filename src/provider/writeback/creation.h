// Creation: an item made locally, written to the server. A folder becomes an MKCOL, a file a PUT; the item is
// then read back from the server, noted in its folder's snapshot and handed to the platform as the server
// holds it.
//
// There is no conflict detection: a file already at the path is replaced, a folder already there is adopted.
// Blocks (run it inside a job); the client, state and lookup it is given guard themselves and outlive it.
#pragma once

#include <optional>
#include <string>

#include "dav/dav.h"
#include "platform/file_provider.h"
#include "provider/item.h"
#include "provider/lookup.h"
#include "state/state.h"

namespace davfp {

class Creation {
 public:
  Creation(Dav& dav, State& state, const Lookup& lookup) : dav_(dav), state_(state), lookup_(lookup) {}

  // Creates the item that the template describes in its parent folder, with the contents of the file
  // contents (none: empty) for a file. Symbolic links are refused (Cocoa featureUnsupported).
  ItemPtr create(const platform::ItemProtocol& itemTemplate, const std::optional<std::string>& contents);

 private:
  Dav& dav_;
  State& state_;
  const Lookup& lookup_;
};

}  // namespace davfp
