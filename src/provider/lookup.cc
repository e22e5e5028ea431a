#include "provider/lookup.h"

#include <cstdint>
#include <unordered_map>

#include "dav/dav_error.h"
#include "dav/listing.h"
#include "platform/error.h"
#include "platform/server_path.h"
#include "platform/text.h"
#include "provider/snapshots.h"

namespace davfp {

namespace {

// Moves the vector into a buffer of its size once a quarter of its buffer is unused.
template <class T>
void releaseSpare(std::vector<T>& v) {
  if (v.size() < v.capacity() / 4 * 3) v.shrink_to_fit();
}

platform::Error noSuchItem() {
  return platform::Error(platform::kFileProviderErrorDomain, platform::fp::kNoSuchItem);
}

}  // namespace

Lookup::Lookup(std::shared_ptr<Dav> dav, std::shared_ptr<State> state, std::string domainName,
               platform::Env& env)
    : dav_(std::move(dav)), state_(std::move(state)), domainName_(std::move(domainName)), env_(env) {}

DavEntry Lookup::entry(std::string_view path) const {
  if (path == "/") return DavEntry{.path = "/", .isDir = true, .size = 0, .modified = {}, .etag = "root"};
  auto listing = dav_->list(path, 0);
  if (listing.empty()) throw DavError::notFound();
  DavEntry found = std::move(listing.front());
  // The item keeps the identifier of the path asked for, however the server spelled it.
  found.path = std::string(path);
  return found;
}

std::vector<DavEntry> Lookup::children(std::string_view path) const {
  return childrenOf(path, dav_->list(path, 1));
}

ItemPtr Lookup::item(const DavEntry& entry) const {
  return std::make_shared<const Item>(entry, *state_, domainName_, env_);
}

std::vector<platform::ItemRef> Lookup::items(std::vector<DavEntry> entries) const {
  return commitItems(State::Batch{}, std::move(entries));
}

std::vector<platform::ItemRef> Lookup::rememberedItems(std::string_view folder,
                                                       std::vector<DavEntry> children) const {
  // The listing is held at its size while the state and the items are built beside it.
  children.shrink_to_fit();
  State::Batch batch;
  batch.steps.push_back({State::Step::Kind::remember, std::string(folder), snapshotOf(children)});
  return commitItems(std::move(batch), std::move(children));
}

std::vector<platform::ItemRef> Lookup::commitItems(State::Batch batch, std::vector<DavEntry> entries) const {
  // Every identifier the items need is minted under one lock and one save; building them then asks nothing.
  // Each entry's own path and its parent's (views of the entries and of the parents' map, which outlive the
  // commit): siblings share their parent's slot. A listing's entries mostly
  // share one parent, so the previous entry's parent is tried first.
  std::vector<uint32_t> parentSlots;
  parentSlots.reserve(entries.size());
  platform::CanonicalMap<uint32_t> parents;
  const size_t first = batch.mint.size();
  batch.mint.reserve(first + entries.size() + 1);
  for (const auto& e : entries) batch.mint.push_back(e.path);
  const std::string* lastParent = nullptr;
  for (const auto& e : entries) {
    std::string parent = platform::parentPath(e.path);
    if (lastParent == nullptr || *lastParent != parent) {
      auto [it, added] = parents.try_emplace(std::move(parent), static_cast<uint32_t>(batch.mint.size()));
      if (added) batch.mint.push_back(it->first);
      lastParent = &it->first;  // map nodes do not move
      parentSlots.push_back(it->second);
    } else {
      parentSlots.push_back(parentSlots.back());
    }
  }
  std::vector<std::string> ids = state_->commit(std::move(batch));

  // One shared identifier per parent, found by its slot.
  std::unordered_map<uint32_t, std::shared_ptr<const platform::ItemIdentifier>> parentIds;
  for (const auto& [parent, slot] : parents) {
    parentIds.emplace(slot, std::make_shared<const platform::ItemIdentifier>(std::move(ids[slot])));
  }
  // Built from the last entry to the first, each entry dropped once its item exists, and the listing moved
  // into a smaller buffer whenever a quarter of it is gone: the entries give way to the items instead of the
  // two being held whole side by side.
  // The identifiers likewise: the parents' were taken above, the entries' are the last ones left.
  ids.resize(first + entries.size());
  std::vector<platform::ItemRef> out(entries.size());
  for (size_t i = entries.size(); i-- > 0;) {
    out[i] = std::make_shared<const Item>(std::move(entries.back()), std::move(ids.back()),
                                          parentIds.at(parentSlots[i]), domainName_, env_);
    entries.pop_back();
    ids.pop_back();
    releaseSpare(entries);
    releaseSpare(ids);
  }
  return out;
}

ItemPtr Lookup::lookup(const platform::ItemIdentifier& identifier) const {
  auto path = state_->path(identifier);
  if (!path) throw noSuchItem();
  return item(entry(*path));
}

std::pair<std::string, ItemPtr> Lookup::fetch(const platform::ItemIdentifier& identifier) const {
  auto path = state_->path(identifier);
  if (!path) throw noSuchItem();
  DavEntry e = entry(*path);
  // A file's listed length tells a whole download from a cut one (a folder's, such as lighttpd's 4096, does
  // not describe any body).
  std::string file = dav_->download(*path, e.isDir ? std::nullopt : e.size);
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
