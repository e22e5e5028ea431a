// Modify item: a new name or folder becomes one MOVE straight to the final place, new contents a PUT there;
// the item is then read back, noted in its folder's snapshot and handed to the platform.
//
// There is no conflict detection: the base version is not consulted and the local change replaces what the
// server holds. Fields that cannot be written to a WebDAV server are reported back as still pending.
#include "platform/error.h"
#include "platform/mime_registry.h"
#include "platform/text.h"
#include "provider/extension.h"
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

std::pair<ItemPtr, platform::ItemFields> FileProviderExtension::modify(
    const platform::ItemProtocol& changed, platform::ItemFields changedFields,
    const std::optional<std::string>& contents) {
  const platform::ItemIdentifier id = changed.itemIdentifier();
  auto current = state_->path(id);
  if (!current) throw platform::Error(platform::kFileProviderErrorDomain, platform::fp::kNoSuchItem);
  std::string path = std::move(*current);
  // The root is the drive itself: it has no name or place on the server to change and no contents, and it
  // is no child of any folder, so noting it would make its own folder's next listing report it deleted.
  if (path == "/") return {item(entry(path)), changedFields & kPendingFields};

  if (changedFields & (kFilename | kParentItemIdentifier)) {
    auto parent = state_->path(changed.parentItemIdentifier());
    if (!parent) throw platform::Error(platform::kFileProviderErrorDomain, platform::fp::kNoSuchItem);
    std::string target = childPath(*parent, changed.filename());
    if (!platform::canonicalEqual(target, path)) {
      // One MOVE for a rename and a new folder together. The state follows at once, so a request that fails
      // later and is repeated finds the item already at its new place and sends no second MOVE.
      dav_->move(path, target, isFolder(changed) ? Target::collection : Target::resource);
      state_->move(id, path, target);
      path = std::move(target);
    }
  }

  std::optional<int64_t> sent;  // the size of the contents uploaded, when they were
  if ((changedFields & kContents) && contents) sent = dav_->upload(path, contents);

  DavEntry written = entry(path);
  // The state keeps the version it had while the server does not hold the contents whole.
  if (sent) checkStoredUpload(written, *sent);
  // Also where the item moved into another folder: there the next listing finds it as noted, not as new.
  state_->noteChild(written.path, written.version());
  return {item(written), changedFields & kPendingFields};
}

}  // namespace davfp
