#include "provider/writeback/creation.h"

#include "dav/dav_error.h"
#include "platform/error.h"
#include "platform/mime_registry.h"
#include "provider/writeback/child_path.h"
#include "provider/writeback/stored_upload.h"

namespace davfp {

namespace {

enum class Kind { file, folder, symbolicLink };

Kind kindOf(const platform::ItemProtocol& itemTemplate) {
  auto type = itemTemplate.contentType();
  if (!type) return Kind::file;
  if (*type == platform::kFolderType) return Kind::folder;
  if (*type == platform::kSymbolicLinkType) return Kind::symbolicLink;
  // Every other type is a file, package types that look like folders included.
  return Kind::file;
}

}  // namespace

ItemPtr Creation::create(const platform::ItemProtocol& itemTemplate,
                         const std::optional<std::string>& contents) {
  auto parent = state_.path(itemTemplate.parentItemIdentifier());
  if (!parent) throw platform::Error(platform::kFileProviderErrorDomain, platform::fp::kNoSuchItem);
  const std::string path = childPath(*parent, itemTemplate.filename());

  std::optional<int64_t> sent;  // the size of the body uploaded, for a file
  switch (kindOf(itemTemplate)) {
    case Kind::symbolicLink:
      throw platform::Error(platform::kCocoaErrorDomain, platform::cocoa::kFeatureUnsupported);
    case Kind::folder:
      try {
        dav_.send("MKCOL", path, {}, std::nullopt, Target::collection);
      } catch (const DavError& e) {
        // 405: something is there already. A folder is adopted as the one asked for; anything else stays.
        if (!e.isStatus(405)) throw;
        if (!lookup_.entry(path).isDir) throw;
      }
      break;
    case Kind::file:
      sent = dav_.upload(path, contents);
      break;
  }

  DavEntry created = lookup_.entry(path);
  // Nothing is noted of a file that the server did not keep whole.
  if (sent) checkStoredUpload(created, *sent);
  state_.noteCreated(created.path, created.version());  // the item's identifier goes in the same save
  return lookup_.item(created);
}

}  // namespace davfp
