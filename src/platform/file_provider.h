// The file provider contract: the types and interfaces through which the platform and an extension talk.
// Identifiers keep the platform's raw values; field and capability bits are the platform's bit values.
// Items are immutable and may be shared across threads; observers are called from any thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/error.h"
#include "platform/progress.h"

namespace davfp::platform {

using ItemIdentifier = std::string;

inline const ItemIdentifier kRootContainerItemIdentifier = "NSFileProviderRootContainerItemIdentifier";
inline const ItemIdentifier kWorkingSetContainerItemIdentifier = "NSFileProviderWorkingSetContainerItemIdentifier";
inline const ItemIdentifier kTrashContainerItemIdentifier = "NSFileProviderTrashContainerItemIdentifier";

// Item fields (NSFileProviderItemFields).
using ItemFields = uint64_t;
namespace field {
inline constexpr ItemFields kContents = 0x1;
inline constexpr ItemFields kFilename = 0x2;
inline constexpr ItemFields kParentItemIdentifier = 0x4;
inline constexpr ItemFields kLastUsedDate = 0x8;
inline constexpr ItemFields kTagData = 0x10;
inline constexpr ItemFields kFavoriteRank = 0x20;
inline constexpr ItemFields kCreationDate = 0x40;
inline constexpr ItemFields kContentModificationDate = 0x80;
inline constexpr ItemFields kFileSystemFlags = 0x100;
inline constexpr ItemFields kExtendedAttributes = 0x200;
inline constexpr ItemFields kTypeAndCreator = 0x400;
}  // namespace field

// Item capabilities (NSFileProviderItemCapabilities).
using ItemCapabilities = uint64_t;
namespace capability {
inline constexpr ItemCapabilities kReading = 1;
inline constexpr ItemCapabilities kWriting = 2;
inline constexpr ItemCapabilities kReparenting = 4;
inline constexpr ItemCapabilities kRenaming = 8;
inline constexpr ItemCapabilities kTrashing = 16;
inline constexpr ItemCapabilities kDeleting = 32;
}  // namespace capability

// Delete options (NSFileProviderDeleteItemOptions).
using DeleteItemOptions = uint64_t;
inline constexpr DeleteItemOptions kDeleteRecursive = 1;

using CreateItemOptions = uint64_t;
using ModifyItemOptions = uint64_t;

// An item version: two opaque byte strings.
struct ItemVersion {
  std::string contentVersion;
  std::string metadataVersion;
  bool operator==(const ItemVersion&) const = default;
};

// The version component of an item that was never synced. It holds a NUL byte, which no server version can:
// versions are entity tags read from XML (where U+0000 cannot occur) or digits and "-".
inline const std::string kBeforeFirstSyncComponent = std::string("\0before-first-sync", 18);

// Sync anchors and pages are opaque bytes.
using SyncAnchor = std::string;
using Page = std::string;

// The domain as the platform describes it.
struct Domain {
  std::string identifier;
  std::string displayName;
};

// The request's context (NSFileProviderRequest); carries nothing the engine reads.
struct Request {};

using Date = std::chrono::system_clock::time_point;

// An item as the platform sees it (NSFileProviderItem). Platform items (templates of new items) may leave the
// optional properties unanswered.
class ItemProtocol {
 public:
  virtual ~ItemProtocol() = default;
  virtual ItemIdentifier itemIdentifier() const = 0;
  virtual ItemIdentifier parentItemIdentifier() const = 0;
  virtual std::string filename() const = 0;
  // The item's type (a MIME type name); none when the item does not answer this property.
  virtual std::optional<std::string> contentType() const { return std::nullopt; }
  virtual std::optional<int64_t> documentSize() const { return std::nullopt; }
  virtual std::optional<Date> contentModificationDate() const { return std::nullopt; }
  virtual std::optional<Date> creationDate() const { return std::nullopt; }
  virtual ItemVersion itemVersion() const { return {}; }
  virtual ItemCapabilities capabilities() const { return 0; }
};

using ItemRef = std::shared_ptr<const ItemProtocol>;

// Receives the items of one enumeration; each enumeration ends with exactly one finish call.
class EnumerationObserver {
 public:
  virtual ~EnumerationObserver() = default;
  virtual void didEnumerateItems(std::vector<ItemRef> items) = 0;
  virtual void finishEnumeratingUpToPage(std::optional<Page> nextPage) = 0;
  virtual void finishEnumeratingWithError(const Error& error) = 0;
};

// Receives the changes of one change enumeration; it ends with exactly one finish call.
class ChangeObserver {
 public:
  virtual ~ChangeObserver() = default;
  virtual void didUpdateItems(std::vector<ItemRef> items) = 0;
  virtual void didDeleteItemsWithIdentifiers(std::vector<ItemIdentifier> identifiers) = 0;
  virtual void finishEnumeratingChangesUpToSyncAnchor(SyncAnchor anchor, bool moreComing) = 0;
  virtual void finishEnumeratingWithError(const Error& error) = 0;
};

// NSFileProviderEnumerator.
class Enumerator {
 public:
  virtual ~Enumerator() = default;
  virtual void invalidate() = 0;
  virtual void enumerateItems(std::shared_ptr<EnumerationObserver> observer, Page startingAt) = 0;
  virtual void enumerateChanges(std::shared_ptr<ChangeObserver> observer, SyncAnchor from) = 0;
  virtual void currentSyncAnchor(std::function<void(std::optional<SyncAnchor>)> completion) = 0;
};

// Initial page values.
inline const Page kInitialPageSortedByName = "NSFileProviderInitialPageSortedByName";

// Completion handlers of the replicated extension's requests. Exactly one of item/URL and error is present.
using ItemCompletion = std::function<void(ItemRef item, std::optional<Error> error)>;
using FetchCompletion =
    std::function<void(std::optional<std::string> fileURL, ItemRef item, std::optional<Error> error)>;
using WriteCompletion = std::function<void(ItemRef item, ItemFields stillPendingFields, bool shouldFetchContent,
                                           std::optional<Error> error)>;
using DeleteCompletion = std::function<void(std::optional<Error> error)>;

// NSFileProviderReplicatedExtension: every request returns its progress at once and calls its completion
// exactly once, from any thread.
class ReplicatedExtension {
 public:
  virtual ~ReplicatedExtension() = default;
  virtual void invalidate() = 0;
  virtual std::shared_ptr<Progress> itemForIdentifier(const ItemIdentifier& identifier, const Request& request,
                                                      ItemCompletion completion) = 0;
  virtual std::shared_ptr<Progress> fetchContents(const ItemIdentifier& identifier,
                                                  std::optional<ItemVersion> requestedVersion,
                                                  const Request& request, FetchCompletion completion) = 0;
  virtual std::shared_ptr<Progress> createItem(ItemRef itemTemplate, ItemFields fields,
                                               std::optional<std::string> contents, CreateItemOptions options,
                                               const Request& request, WriteCompletion completion) = 0;
  virtual std::shared_ptr<Progress> modifyItem(ItemRef item, ItemVersion baseVersion, ItemFields changedFields,
                                               std::optional<std::string> contents, ModifyItemOptions options,
                                               const Request& request, WriteCompletion completion) = 0;
  virtual std::shared_ptr<Progress> deleteItem(const ItemIdentifier& identifier, ItemVersion baseVersion,
                                               DeleteItemOptions options, const Request& request,
                                               DeleteCompletion completion) = 0;
  virtual std::shared_ptr<Enumerator> enumerator(const ItemIdentifier& container, const Request& request) = 0;
};

}  // namespace davfp::platform
