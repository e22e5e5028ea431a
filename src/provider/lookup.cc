// Item lookup: entries, children and trees of server paths, and the items built from them.
#include "platform/error.h"
#include "platform/jobs.h"
#include "platform/text.h"
#include "provider/extension.h"
#include "state/paths.h"

namespace davfp {

namespace {

platform::Error noSuchItem() {
  return platform::Error(platform::kFileProviderErrorDomain, platform::fp::kNoSuchItem);
}

}  // namespace

DavEntry FileProviderExtension::entry(std::string_view path) {
  if (path == "/") return DavEntry{.path = "/", .isDir = true, .size = 0, .modified = {}, .etag = "root"};
  auto listing = dav_->list(path, 0);
  if (listing.empty()) throw DavError::notFound();
  DavEntry found = std::move(listing.front());
  // The item keeps the identifier of the path asked for, however the server spelled it.
  found.path = std::string(path);
  return found;
}

std::vector<DavEntry> FileProviderExtension::children(std::string_view path) {
  auto listing = dav_->list(path, 1);
  std::vector<DavEntry> kids;
  kids.reserve(listing.size());
  for (auto& e : listing) {
    if (!platform::canonicalEqual(e.path, path) && platform::canonicalEqual(parentPath(e.path), path)) {
      kids.push_back(std::move(e));
    }
  }
  return kids;
}

std::vector<DavEntry> FileProviderExtension::tree(std::string_view path) {
  std::vector<DavEntry> kids;
  try {
    kids = children(path);
  } catch (const DavError& e) {
    if (e.kind() == DavError::Kind::notFound) return {};
    throw;
  }
  std::vector<DavEntry> out;
  for (auto& kid : kids) {
    if (kid.isDir) {
      auto below = tree(kid.path);
      out.insert(out.end(), std::make_move_iterator(below.begin()), std::make_move_iterator(below.end()));
    }
    out.push_back(std::move(kid));
  }
  return out;
}

ItemPtr FileProviderExtension::item(const DavEntry& entry) {
  return std::make_shared<const Item>(entry, *state_, domain_.displayName, env_);
}

std::vector<platform::ItemRef> FileProviderExtension::items(const std::vector<DavEntry>& entries) {
  // Mint every identifier the items need under one lock and one save; building them then only looks up.
  std::vector<std::string> paths;
  paths.reserve(entries.size() + 1);
  platform::CanonicalSet parents;
  for (const auto& e : entries) {
    paths.push_back(e.path);
    std::string parent = parentPath(e.path);
    if (parents.insert(parent).second) paths.push_back(std::move(parent));
  }
  state_->ids(paths);
  std::vector<platform::ItemRef> out;
  out.reserve(entries.size());
  for (const auto& e : entries) out.push_back(item(e));
  return out;
}

ItemPtr FileProviderExtension::lookup(const platform::ItemIdentifier& identifier) {
  auto path = state_->path(identifier);
  if (!path) throw noSuchItem();
  return item(entry(*path));
}

std::pair<std::string, ItemPtr> FileProviderExtension::fetch(const platform::ItemIdentifier& identifier) {
  auto path = state_->path(identifier);
  if (!path) throw noSuchItem();
  DavEntry e = entry(*path);
  std::string file = dav_->download(*path);
  try {
    return {file, item(e)};
  } catch (...) {
    try {
      env_.removeFile(file);
    } catch (...) {
      // Nothing more to undo.
    }
    throw;
  }
}

}  // namespace davfp
