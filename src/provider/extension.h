// FileProviderExtension: the object the platform creates for one domain.
//
// It owns the domain's description, its WebDAV client and its persistent state, answers the platform's
// requests through the request frame, and hands out enumerators. Every request and enumeration runs as a job
// that holds the extension (always owned by a shared_ptr; see create()). The fields never change after
// construction; Dav and State guard themselves, so any number of requests run at once.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "dav/dav.h"
#include "platform/env.h"
#include "platform/file_provider.h"
#include "provider/item.h"
#include "state/state.h"

namespace davfp {

using ItemPtr = std::shared_ptr<const Item>;

// The domain whose item enumerations are always empty.
inline constexpr std::string_view kPlaceholderDomain = "velnor-placeholder";

class FileProviderExtension final : public platform::ReplicatedExtension,
                                    public std::enable_shared_from_this<FileProviderExtension> {
 public:
  // Creates the client (no network traffic) and loads the domain's state. Never fails.
  static std::shared_ptr<FileProviderExtension> create(platform::Domain domain,
                                                       platform::Env& env = platform::Env::standard(),
                                                       DavTimings timings = {});

  const platform::Domain& domain() const { return domain_; }
  Dav& dav() const { return *dav_; }
  State& state() const { return *state_; }
  platform::Env& env() const { return env_; }

  // --- Platform requests ---
  void invalidate() override {}
  std::shared_ptr<platform::Progress> itemForIdentifier(const platform::ItemIdentifier& identifier,
                                                        const platform::Request& request,
                                                        platform::ItemCompletion completion) override;
  std::shared_ptr<platform::Progress> fetchContents(const platform::ItemIdentifier& identifier,
                                                    std::optional<platform::ItemVersion> requestedVersion,
                                                    const platform::Request& request,
                                                    platform::FetchCompletion completion) override;
  std::shared_ptr<platform::Progress> createItem(platform::ItemRef itemTemplate, platform::ItemFields fields,
                                                 std::optional<std::string> contents,
                                                 platform::CreateItemOptions options,
                                                 const platform::Request& request,
                                                 platform::WriteCompletion completion) override;
  std::shared_ptr<platform::Progress> modifyItem(platform::ItemRef item, platform::ItemVersion baseVersion,
                                                 platform::ItemFields changedFields,
                                                 std::optional<std::string> contents,
                                                 platform::ModifyItemOptions options,
                                                 const platform::Request& request,
                                                 platform::WriteCompletion completion) override;
  std::shared_ptr<platform::Progress> deleteItem(const platform::ItemIdentifier& identifier,
                                                 platform::ItemVersion baseVersion,
                                                 platform::DeleteItemOptions options,
                                                 const platform::Request& request,
                                                 platform::DeleteCompletion completion) override;
  std::shared_ptr<platform::Enumerator> enumerator(const platform::ItemIdentifier& container,
                                                   const platform::Request& request) override;

  // --- Lookup (blocking; run inside jobs) ---
  // What the server knows about one path; the root without asking it.
  DavEntry entry(std::string_view path);
  // The direct children of a folder, in server order.
  std::vector<DavEntry> children(std::string_view path);
  // The item of an entry.
  ItemPtr item(const DavEntry& entry);
  // The items of many entries, their identifiers minted in one step.
  std::vector<platform::ItemRef> items(std::vector<DavEntry> entries);
  // The items of a folder's children, remembered as the folder's snapshot in the same step as their
  // identifiers are minted: one save at most.
  std::vector<platform::ItemRef> rememberedItems(std::string_view folder, std::vector<DavEntry> children);

  // The current sync anchor: the state's counter in decimal, read without the state's lock.
  platform::SyncAnchor anchor() const;

  // --- Work of the requests (blocking; run inside jobs) ---
  ItemPtr lookup(const platform::ItemIdentifier& identifier);
  std::pair<std::string, ItemPtr> fetch(const platform::ItemIdentifier& identifier);
  ItemPtr create(const platform::ItemProtocol& itemTemplate, const std::optional<std::string>& contents);
  std::pair<ItemPtr, platform::ItemFields> modify(const platform::ItemProtocol& item,
                                                  platform::ItemFields changedFields,
                                                  const std::optional<std::string>& contents);
  void remove(const platform::ItemIdentifier& identifier, const std::string& baseContentVersion, bool recursive);

 private:
  FileProviderExtension(platform::Domain domain, platform::Env& env, DavTimings timings);

  // Commits the batch with the identifiers of the entries and of their parents added to its mint, then builds
  // the entries' items with the identifiers the commit returns. The entries are used up.
  std::vector<platform::ItemRef> commitItems(State::Batch& batch, std::vector<DavEntry>& entries);

  // Deletes an entry on the server, member by member, deepest first; throws when something must stay.
  void deleteTree(const DavEntry& entry, const std::string& baseContentVersion, bool recursive);

  const platform::Domain domain_;
  platform::Env& env_;
  const std::shared_ptr<Dav> dav_;
  const std::unique_ptr<State> state_;
};

}  // namespace davfp
