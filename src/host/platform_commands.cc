// The platform commands: one request or enumeration each, printed as JSON.
#include "client/template_item.h"
#include "host/commands.h"
#include "host/drive_path.h"
#include "host/failure.h"
#include "host/json_output.h"
#include "host/local_files.h"
#include "host/progress_bar.h"
#include "platform/mime_registry.h"

namespace davfp::cli {

using client::TemplateItem;
using nlohmann::ordered_json;
using platform::ItemRef;

void emit(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

void emitItems(const std::vector<ItemRef>& items, const std::optional<std::string>& folderPath) {
  constexpr size_t kPiece = 1 << 16;
  std::string text;
  text.reserve(kPiece + 4096);
  for (const auto& item : items) {
    if (folderPath) {
      appendItemLine(text, *item, childPath(*folderPath, item->filename()));
    } else {
      appendItemLine(text, *item);
    }
    if (text.size() >= kPiece) {
      std::fwrite(text.data(), 1, text.size(), stdout);
      text.clear();
    }
  }
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

std::string downloadBase(const Options& o) {
  if (o.command == Command::fetch) return stagingDirectoryFor(o.dest);
  if (o.command == Command::get) {
    if (o.local.empty()) return ".";
    if (o.local == kStandardOutput) return {};
    return namesFolder(o.local) ? o.local : stagingDirectoryFor(o.local);
  }
  return {};
}

std::string prepareDownload(ProgramEnv& env) {
  try {
    return env.temporaryDirectory();
  } catch (const platform::Error& e) {
    throw localFailure(env.baseDirectory(), static_cast<int>(e.code()));
  }
}

namespace {

void emitItem(const platform::ItemProtocol& item) {
  std::string line;
  appendItemLine(line, item);
  emit(line);
}

ordered_json anchorJson(const platform::SyncAnchor& anchor) { return {{"anchor", anchor}}; }

int fetch(Context& c) {
  const Options& o = c.options;
  checkWritableDestination(o.dest);
  std::string dir = prepareDownload(c.env);
  client::PlatformClient::Fetched fetched;
  {
    ProgressBar bar(o.dest, std::nullopt, [dir] { return bytesInDirectory(dir); });
    fetched = c.platform.fetch(identifierFor(o.id), std::nullopt);
  }
  placeFile(fetched.file, o.dest);
  emitItem(*fetched.item);
  return 0;
}

int create(Context& c) {
  const Options& o = c.options;
  checkName(*o.name);
  std::optional<int64_t> size;
  if (o.contents) size = readableFileSize(*o.contents);
  std::optional<std::string> type = o.type;
  if (o.folder) type = std::string(platform::kFolderType);
  auto properties = TemplateItem::forNewItem(identifierFor(o.parent), *o.name, type);
  properties.documentSize = size;
  platform::ItemFields fields = platform::field::kFilename | platform::field::kParentItemIdentifier;
  if (o.contents) fields |= platform::field::kContents;
  ItemRef created;
  {
    ProgressBar bar(*o.name, size,
                    [file = o.contents.value_or("")] { return file.empty() ? 0 : readOffsetOf(file); });
    created =
        c.platform.create(std::make_shared<TemplateItem>(std::move(properties)), fields, o.contents).item;
  }
  emitItem(*created);
  return 0;
}

int modify(Context& c) {
  const Options& o = c.options;
  if (o.name) checkName(*o.name);
  std::optional<int64_t> size;
  if (o.contents) size = readableFileSize(*o.contents);
  platform::ItemFields fields = 0;
  if (o.fieldMask) {
    fields = parseFieldMask(*o.fieldMask);
  } else {
    if (o.name) fields |= platform::field::kFilename;
    if (o.newParent) fields |= platform::field::kParentItemIdentifier;
    if (o.contents) fields |= platform::field::kContents;
  }
  // The platform sends back the item it has, changed: it knows the item first.
  ItemRef current = c.platform.item(identifierFor(o.id));
  auto properties = TemplateItem::copyOf(*current);
  if (o.name) properties.filename = *o.name;
  if (o.newParent) properties.parent = identifierFor(*o.newParent);
  if (size) properties.documentSize = size;
  client::PlatformClient::Written modified;
  {
    ProgressBar bar(properties.filename, size,
                    [file = o.contents.value_or("")] { return file.empty() ? 0 : readOffsetOf(file); });
    modified = c.platform.modify(std::make_shared<TemplateItem>(std::move(properties)),
                                 current->itemVersion(), fields, o.contents);
  }
  ordered_json out = itemJson(*modified.item);
  out["pendingFields"] = modified.pendingFields;
  emit(jsonLine(out));
  return 0;
}

int remove(Context& c) {
  const Options& o = c.options;
  platform::ItemIdentifier id = identifierFor(o.id);
  std::string version;
  if (o.beforeFirstSync) {
    version = platform::kBeforeFirstSyncComponent;
  } else if (o.version) {
    version = *o.version;
  } else {
    try {
      version = c.platform.item(id)->itemVersion().contentVersion;
    } catch (const platform::Error& e) {
      // An item the server no longer has is deleted all the same: the extension forgets it.
      if (!e.is(platform::kFileProviderErrorDomain, platform::fp::kNoSuchItem)) throw;
    }
  }
  c.platform.remove(id, platform::ItemVersion{version, {}}, o.recursive);
  emit(jsonLine(ordered_json{{"deleted", id}}));
  return 0;
}

}  // namespace

int runPlatformCommand(Context& c) {
  const Options& o = c.options;
  switch (o.command) {
    case Command::item:
      emitItem(*c.platform.item(identifierFor(o.id)));
      return 0;
    case Command::enumerate:
      emitItems(c.platform.enumerate(identifierFor(o.container)));
      return 0;
    case Command::changes: {
      const auto& ws = platform::kWorkingSetContainerItemIdentifier;
      auto changes = c.platform.changes(ws, c.platform.currentAnchor(ws));
      for (const auto& change : changes.changes) {
        emit(jsonLine(change.updated ? ordered_json{{"updated", itemJson(*change.updated)}}
                                     : ordered_json{{"deleted", *change.deleted}}));
      }
      emit(jsonLine(anchorJson(changes.anchor)));
      return 0;
    }
    case Command::anchor:
      emit(jsonLine(anchorJson(c.platform.currentAnchor(platform::kWorkingSetContainerItemIdentifier))));
      return 0;
    case Command::fetch:
      return fetch(c);
    case Command::create:
      return create(c);
    case Command::modify:
      return modify(c);
    case Command::remove:
      return remove(c);
    default:
      throw UsageError("not a platform command");
  }
}

}  // namespace davfp::cli
