// Lookup: what the server and the state know about paths and identifiers, turned into items. The entry of a
// path, the children of a folder, the items of entries (their identifiers minted in one state step), an
// item by its identifier, and a file's contents with its item. Every method blocks (run it inside a job) and
// throws what the client and the state throw. Holds only its client and state, which guard themselves; any
// number of jobs may use one Lookup at once.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "dav/dav.h"
#include "platform/env.h"
#include "platform/file_provider.h"
#include "provider/item.h"
#include "state/state.h"

namespace davfp {

class Lookup {
 public:
  // domainName is shown as the root folder's name; env answers type lookups and removes unwanted downloads.
  Lookup(std::shared_ptr<Dav> dav, std::shared_ptr<State> state, std::string domainName, platform::Env& env);

  // What the server knows about one path; the root without asking it.
  DavEntry entry(std::string_view path) const;
  // The direct children of a folder, in server order.
  std::vector<DavEntry> children(std::string_view path) const;
  // The item of an entry.
  ItemPtr item(const DavEntry& entry) const;
  // The items of many entries, their identifiers minted in one step.
  std::vector<platform::ItemRef> items(std::vector<DavEntry> entries) const;
  // The items of a folder's children, remembered as the folder's snapshot in the same step as their
  // identifiers are minted: one save at most.
  std::vector<platform::ItemRef> rememberedItems(std::string_view folder,
                                                 std::vector<DavEntry> children) const;
  // Commits the batch with the identifiers of the entries and of their parents added to its mint, then builds
  // the entries' items with the identifiers the commit returns: whatever the batch changes and the
  // identifiers the items need, in one state step.
  std::vector<platform::ItemRef> commitItems(State::Batch batch, std::vector<DavEntry> entries) const;

  // The item of an identifier, as the server holds it now; noSuchItem for an identifier the state does not
  // know.
  ItemPtr lookup(const platform::ItemIdentifier& identifier) const;
  // Downloads a file: the new file in the temporary directory (the caller owns it) and the item.
  std::pair<std::string, ItemPtr> fetch(const platform::ItemIdentifier& identifier) const;

 private:
  const std::shared_ptr<Dav> dav_;
  const std::shared_ptr<State> state_;
  const std::string domainName_;
  platform::Env& env_;
};

}  // namespace davfp
