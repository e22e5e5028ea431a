// The path commands: a person's view of the drive, found by browsing from the root (PathResolver).
#include <time.h>

#include <cerrno>
#include <chrono>

#include "client/template_item.h"
#include "host/commands.h"
#include "host/drive_path.h"
#include "host/failure.h"
#include "host/human_output.h"
#include "host/json_output.h"
#include "host/local_files.h"
#include "host/path_resolver.h"
#include "host/progress_bar.h"
#include "host/transfer_commands.h"
#include "host/tree_commands.h"
#include "host/visible_text.h"
#include "platform/mime_registry.h"

namespace davfp::cli {

using client::TemplateItem;
using nlohmann::ordered_json;
using platform::ItemRef;

namespace {

// The item at path, with its path: the folders as given, the item's own name as the server spells it.
void emitItem(const Options& o, const platform::ItemProtocol& item, const DrivePath& path) {
  if (!o.json) return;
  emit(jsonLine(
      itemJson(item, path.isRoot() ? path.text() : childPath(path.parent().text(), item.filename()))));
}

std::string baseName(const std::string& local) {
  std::string path = local;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A new item in a folder; a file's contents come from a local file.
ItemRef createIn(Context& c, const ItemRef& folder, const DrivePath& path, bool asFolder,
                 const std::optional<std::string>& contents, std::optional<int64_t> size) {
  auto properties =
      TemplateItem::forNewItem(folder->itemIdentifier(), path.name(),
                               asFolder ? std::optional<std::string>(platform::kFolderType) : std::nullopt);
  properties.documentSize = size;
  platform::ItemFields fields = platform::field::kFilename | platform::field::kParentItemIdentifier;
  if (contents) fields |= platform::field::kContents;
  ProgressBar bar(path.name(), size,
                  [file = contents.value_or("")] { return file.empty() ? 0 : readOffsetOf(file); });
  return about(path.text(), [&] {
    return c.platform.create(std::make_shared<TemplateItem>(std::move(properties)), fields, contents).item;
  });
}

int ls(Context& c, PathResolver& r) {
  const Options& o = c.options;
  DrivePath path = DrivePath::parse(o.path);
  ItemRef item = r.resolve(path);
  std::vector<ItemRef> items{item};
  const bool folder = isFolder(*item);
  if (folder) items = sortedByName(about(path.text(), [&] { return r.children(item); }));
  if (o.json) {
    if (folder) {
      emitItems(items, path.text());
    } else {
      emitItem(o, *item, path);
    }
  } else {
    emit(o.longFormat ? longListing(items, o.humanSizes) : shortListing(items));
  }
  return 0;
}

int get(Context& c, PathResolver& r) {
  const Options& o = c.options;
  DrivePath path = DrivePath::parse(o.path);
  const bool toStandardOutput = o.local == kStandardOutput;
  if (toStandardOutput && o.json) throw UsageError("get to - writes the contents on stdout; --json cannot");
  // The place that takes the file is checked before the server is asked anything.
  if (toStandardOutput) {
    // Nothing to check: standard output is open already.
  } else if (o.local.empty() || namesFolder(o.local)) {
    checkWritableDirectory(downloadBase(o));
  } else {
    checkWritableDestination(o.local);
  }
  ItemRef item = r.resolve(path);
  if (isFolder(*item))
    throw Failure{path.text(),
                  platform::Error(platform::kPOSIXErrorDomain, EISDIR, "is a folder; get fetches files"),
                  {}};
  std::string dest = toStandardOutput ? o.local : saveLocation(o.local, item->filename());
  if (!toStandardOutput) checkWritableDestination(dest);
  std::string dir = prepareDownload(c.env);
  client::PlatformClient::Fetched fetched;
  {
    ProgressBar bar(item->filename(), item->documentSize(), [dir] { return bytesInDirectory(dir); });
    fetched =
        about(path.text(), [&] { return c.platform.fetch(item->itemIdentifier(), item->itemVersion()); });
  }
  if (toStandardOutput) {
    writeToStandardOutput(fetched.file);
    return 0;
  }
  placeFile(fetched.file, dest);
  keepModificationDate(dest, fetched.item->contentModificationDate());
  emitItem(o, *fetched.item, path);
  return 0;
}

int put(Context& c, PathResolver& r) {
  const Options& o = c.options;
  int64_t size = readableFileSize(o.local);
  DrivePath path = DrivePath::parse(o.path);
  ItemRef target = path.isRoot() ? r.root() : r.find(path);
  // A path ending in "/" names a folder that is there: never a new file by that name, nor a file replaced.
  if (o.path.ends_with('/') && !(target && isFolder(*target))) {
    throw Failure{path.text(),
                  target
                      ? platform::Error(platform::kPOSIXErrorDomain, ENOTDIR, "is a file, not a folder")
                      : platform::Error(platform::kPOSIXErrorDomain, ENOENT, "no such folder on the server"),
                  {}};
  }
  if (target && isFolder(*target)) {
    std::string name = baseName(o.local);
    checkName(name);
    path = path.child(name);
    target = r.find(path);
    if (target && isFolder(*target)) throw localFailure(path.text(), EISDIR);
  }
  ItemRef result;
  if (target) {
    auto properties = TemplateItem::copyOf(*target);
    properties.documentSize = size;
    ProgressBar bar(path.name(), size, [file = o.local] { return readOffsetOf(file); });
    result = about(path.text(), [&] {
      return c.platform
          .modify(std::make_shared<TemplateItem>(std::move(properties)), target->itemVersion(),
                  platform::field::kContents, o.local)
          .item;
    });
  } else {
    result = createIn(c, r.resolve(path.parent()), path, false, o.local, size);
  }
  emitItem(o, *result, path);
  return 0;
}

int mkdir(Context& c, PathResolver& r) {
  const Options& o = c.options;
  DrivePath path = DrivePath::parse(o.path);
  if (!o.parents) {
    if (path.isRoot() || r.find(path)) throw localFailure(path.text(), EEXIST);
    emitItem(o, *createIn(c, r.resolve(path.parent()), path, true, std::nullopt, std::nullopt), path);
    return 0;
  }
  ItemRef folder = r.root();
  DrivePath walked;
  for (const auto& name : path.names()) {
    walked = walked.child(name);
    ItemRef next = about(walked.text(), [&] { return r.childNamed(folder, name); });
    if (!next) {
      next = createIn(c, folder, walked, true, std::nullopt, std::nullopt);
      r.forgetChildren(folder->itemIdentifier());
      emitItem(o, *next, walked);
    } else if (!isFolder(*next)) {
      throw localFailure(walked.text(), ENOTDIR);
    }
    folder = std::move(next);
  }
  return 0;
}

int mv(Context& c, PathResolver& r) {
  const Options& o = c.options;
  DrivePath from = DrivePath::parse(o.from);
  DrivePath to = DrivePath::parse(o.to);
  if (from.isRoot()) throw UsageError("the root folder cannot be moved");
  ItemRef source = r.resolve(from);
  DrivePath dest = to;
  ItemRef there = to.isRoot() ? r.root() : r.find(to);
  if (there && isFolder(*there) && there->itemIdentifier() != source->itemIdentifier()) {
    dest = to.child(source->filename());
    there = r.find(dest);
  }
  if (there) {
    if (there->itemIdentifier() == source->itemIdentifier()) {
      emitItem(o, *source, dest);  // already there
      return 0;
    }
    throw localFailure(dest.text(), EEXIST);
  }
  // A folder cannot go inside itself: no folder on the way to the destination may be the source.
  DrivePath walked;
  ItemRef folder = r.root();
  const DrivePath destFolder = dest.parent();
  for (const auto& name : destFolder.names()) {
    walked = walked.child(name);
    folder = r.resolve(walked);
    if (folder->itemIdentifier() == source->itemIdentifier()) {
      throw UsageError(from.text() + " cannot be moved inside itself");
    }
  }
  auto properties = TemplateItem::copyOf(*source);
  platform::ItemFields fields = 0;
  if (properties.filename != dest.name()) fields |= platform::field::kFilename;
  if (properties.parent != folder->itemIdentifier()) fields |= platform::field::kParentItemIdentifier;
  properties.filename = dest.name();
  properties.parent = folder->itemIdentifier();
  auto moved = about(from.text(), [&] {
    return c.platform.modify(std::make_shared<TemplateItem>(std::move(properties)), source->itemVersion(),
                             fields, std::nullopt);
  });
  emitItem(o, *moved.item, dest);
  return 0;
}

int rm(Context& c, PathResolver& r) {
  const Options& o = c.options;
  DrivePath path = DrivePath::parse(o.path);
  if (path.isRoot()) throw UsageError("the root folder cannot be deleted");
  ItemRef item = r.resolve(path);
  try {
    c.platform.remove(item->itemIdentifier(), platform::ItemVersion{item->itemVersion().contentVersion, {}},
                      o.recursive);
  } catch (const platform::Error& e) {
    Failure failure{path.text(), e, {}};
    if (e.is(platform::kFileProviderErrorDomain, platform::fp::kDirectoryNotEmpty) && !o.recursive) {
      failure.hint = "use -r to delete a folder with everything in it";
    }
    throw failure;
  }
  if (o.json) emit(jsonLine(ordered_json{{"deleted", item->itemIdentifier()}}));
  return 0;
}

std::string clock() {
  time_t now = ::time(nullptr);
  struct tm local;
  char text[16] = "";
  if (::localtime_r(&now, &local) != nullptr) std::strftime(text, sizeof text, "%H:%M:%S", &local);
  return text;
}

// Shows a pass's changes. With --json, the anchor follows when it differs from lastAnchor, the one shown
// last (none before the first pass), so that a quiet drive prints nothing.
void showChanges(const Options& o, PathResolver& r, const client::PlatformClient::Changes& changes,
                 std::optional<platform::SyncAnchor>& lastAnchor) {
  for (const auto& change : changes.changes) {
    if (change.updated) {
      const auto& item = *change.updated;
      bool known = r.knows(item.itemIdentifier());
      r.learn(item);
      if (o.json) {
        emit(jsonLine(ordered_json{{"updated", itemJson(item, r.pathOf(item.itemIdentifier()))}}));
        continue;
      }
      std::string where = r.pathOf(item.itemIdentifier()).value_or(".../" + item.filename());
      emit(clock() + "  " + (known ? "changed" : "new    ") + "  " + visible(where) +
           (isFolder(item) ? "/" : "") + "\n");
    } else {
      const auto& id = *change.deleted;
      std::string where = r.pathOf(id).value_or("(an item never shown, " + id + ")");
      r.unlearn(id);
      if (o.json) {
        emit(jsonLine(ordered_json{{"deleted", id}}));
      } else {
        emit(clock() + "  deleted  " + visible(where) + "\n");
      }
    }
  }
  if (o.json && changes.anchor != lastAnchor) emit(jsonLine(ordered_json{{"anchor", changes.anchor}}));
  lastAnchor = changes.anchor;
}

int watch(Context& c, PathResolver& r) {
  const Options& o = c.options;
  const auto& ws = platform::kWorkingSetContainerItemIdentifier;
  // The folders followed are those browsed before; a drive never browsed is browsed at its root now.
  r.root();
  auto known = c.platform.enumerate(ws);
  if (known.empty()) known = r.children(r.root());
  for (const auto& item : known) r.learn(*item);
  std::fprintf(stderr, "davfp: watching for changes every %d s; Ctrl-C stops\n", o.interval);
  std::optional<platform::SyncAnchor> lastAnchor;
  // The drive is held for each pass only, so that other commands can use it in between; each pass starts
  // the extension again on the state as those commands left it.
  while (!c.interrupt.interrupted()) {
    try {
      c.session.open();
      showChanges(o, r, c.platform.changes(ws, c.platform.currentAnchor(ws)), lastAnchor);
    } catch (const Failure& failure) {
      if (c.interrupt.interrupted()) break;
      std::fprintf(stderr, "%s\n", visible(humanMessage(failure, o.verbose)).c_str());
    } catch (const platform::Error& e) {
      if (c.interrupt.interrupted()) break;
      // A server away for a moment is no reason to stop watching.
      std::fprintf(stderr, "%s\n", visible(humanMessage(Failure{{}, e, {}}, o.verbose)).c_str());
    }
    c.session.close();
    if (!c.interrupt.sleepFor(std::chrono::seconds(o.interval))) break;
  }
  // Watching ends only when interrupted, and says so as any interrupted command does.
  return kInterruptedStatus;
}

}  // namespace

int runPathCommand(Context& c) {
  PathResolver resolver(c.platform);
  switch (c.options.command) {
    case Command::ls:
      return c.options.recursive ? lsRecursive(c, resolver) : ls(c, resolver);
    case Command::get:
      return c.options.recursive || c.options.sources.size() > 1 ? getMany(c, resolver) : get(c, resolver);
    case Command::put:
      if (c.options.local == kStandardOutput) return putStandardInput(c, resolver);
      return c.options.recursive || c.options.sources.size() > 1 ? putMany(c, resolver) : put(c, resolver);
    case Command::cat:
      return cat(c, resolver);
    case Command::tree:
      return tree(c, resolver);
    case Command::du:
      return du(c, resolver);
    case Command::mkdir:
      return mkdir(c, resolver);
    case Command::mv:
      return mv(c, resolver);
    case Command::rm:
      return rm(c, resolver);
    case Command::watch:
      return watch(c, resolver);
    default:
      throw UsageError("not a path command");
  }
}

}  // namespace davfp::cli
