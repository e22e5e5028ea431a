#include "provider/writeback/modification.h"

#include "platform/error.h"
#include "platform/mime_registry.h"
#include "platform/text.h"
#include "provider/writeback/child_path.h"
#include "provider/writeback/stored_upload.h"

namespace davfp {

namespace {

using namespace platform::field;

// Dates, tags, ranks, flags and extended attributes: kept by the platform, never written to the server.
constexpr platform::ItemFields kPendingFields = kLastUsedDate | kTagData | kFavoriteRank | kCreationDate |
                                                kContentModificationDate | kFileSystemFlags |
                                                kExtendedAttributes;
static_assert(kPendingFields == 0x3F8);

bool isFolder(const platform::ItemProtocol& item) {
  auto type = item.contentType();
  return type && *type == platform::kFolderType;
}

}  // namespace

std::pair<ItemPtr, platform::ItemFields> Modification::modify(const platform::ItemProtocol& changed,
                                                              platform::ItemFields changedFields,
                                                              const std::optional<std::string>& contents) {
  const platform::ItemIdentifier id = changed.itemIdentifier();
  auto current = state_.path(id);
  if (!current) throw platform::Error(platform::kFileProviderErrorDomain, platform::fp::kNoSuchItem);
  std::string path = std::move(*current);
  // The root is the drive itself: it has no name or place on the server to change and no contents, and it
  // is no child of any folder, so noting it would make its own folder's next listing report it deleted.
  if (path == "/") return {lookup_.item(lookup_.entry(path)), changedFields & kPendingFields};

  if (changedFields & (kFilename | kParentItemIdentifier)) {
    auto parent = state_.path(changed.parentItemIdentifier());
    if (!parent) throw platform::Error(platform::kFileProviderErrorDomain, platform::fp::kNoSuchItem);
    std::string target = childPath(*parent, changed.filename());
    if (!platform::canonicalEqual(target, path)) {
      // One MOVE for a rename and a new folder together. The state follows at once, so a request that fails
      // later and is repeated finds the item already at its new place and sends no second MOVE.
      dav_.move(path, target, isFolder(changed) ? Target::collection : Target::resource);
      state_.move(id, path, target);
      path = std::move(target);
    }
  }

  std::optional<int64_t> sent;  // the size of the contents uploaded, when they were
  if ((changedFields & kContents) && contents) sent = dav_.upload(path, contents);

  DavEntry written = lookup_.entry(path);
  // The state keeps the version it had while the server does not hold the contents whole.
  if (sent) checkStoredUpload(written, *sent);
  // Also where the item moved into another folder: there the next listing finds it as noted, not as new.
  state_.noteChild(written.path, written.version());
  return {lookup_.item(written), changedFields & kPendingFields};
}

}  // namespace davfp
