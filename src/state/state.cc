#include "state/state.h"

#include <algorithm>
#include <exception>
#include <limits>
#include <utility>

#include "platform/file_provider.h"
#include "platform/uuid.h"
#include "state/drive_config.h"
#include "state/paths.h"
#include "state/state_file.h"

namespace davfp {
namespace {

using platform::CanonicalMap;

// The extension's own data directory, else the temporary directory; created if missing.
std::string stateDirectory(platform::Env& env) {
  auto dir = env.applicationDataDirectory(std::string(kAppBundleID) + ".extension");
  std::string out = dir && !dir->empty() ? *dir : env.temporaryDirectory();
  try {
    env.createDirectories(out);
  } catch (const std::exception&) {
    // Ignored: reading the file then fails and the state starts fresh; each save fails silently in turn.
  }
  return out;
}

template <class Map>
void eraseKey(Map& map, std::string_view key) {
  if (auto it = map.find(key); it != map.end()) map.erase(it);
}

// Sets key to value; an equivalent key already there is replaced, so the map keeps the new spelling.
template <class V>
void setKey(CanonicalMap<V>& map, std::string key, V value) {
  eraseKey(map, key);
  map.emplace(std::move(key), std::move(value));
}

// The path that p has after the item at from moved to to, or none when p is not under from.
std::optional<std::string> rewritten(std::string_view p, std::string_view from, std::string_view to) {
  if (!isUnder(p, from)) return std::nullopt;
  if (platform::canonicalEqual(p, from)) return std::string(to);
  // Where from's part of p ends: p may spell it differently (composed or decomposed), but with the same
  // number of "/", so the rest of p starts at the "/" after from's last one. Under "/", all of p is rest.
  size_t rest = 0;
  if (from != "/") {
    auto left = std::count(from.begin(), from.end(), '/') + 1;
    for (rest = 0; rest < p.size(); ++rest) {
      if (p[rest] == '/' && --left == 0) break;
    }
    if (rest == p.size()) return std::nullopt;
  }
  std::string out(to == "/" ? "" : to);
  out += p.substr(rest);
  return out;
}

// Rewrites the keys under from as rewritten() does. Where a rewritten key lands on a key that stays, the
// rewritten one wins: it carries the moved item, the other is stale.
template <class V>
void rebaseKeys(CanonicalMap<V>& map, std::string_view from, std::string_view to) {
  std::vector<std::pair<std::string, V>> moved;
  for (auto it = map.begin(); it != map.end();) {
    if (auto key = rewritten(it->first, from, to)) {
      moved.emplace_back(std::move(*key), std::move(it->second));
      it = map.erase(it);
    } else {
      ++it;
    }
  }
  for (auto& [key, value] : moved) setKey(map, std::move(key), std::move(value));
}

// Equal byte for byte, spelling of the keys included.
bool sameSnapshot(const State::Snapshot& a, const State::Snapshot& b) {
  if (a.size() != b.size()) return false;
  for (const auto& [child, version] : a) {
    auto it = b.find(child);
    if (it == b.end() || it->first != child || it->second != version) return false;
  }
  return true;
}

}  // namespace

State::State(std::string_view domain, platform::Env& env)
    : env_(env), file_(platform::joinPath(stateDirectory(env), stateFileName(domain))) {
  load();
}

void State::load() {
  std::optional<StateDisk> disk;
  try {
    disk = decodeState(env_.readFile(file_));
  } catch (const std::exception&) {
    // Most often the file does not exist yet. Unreadable means fresh; the next save replaces the file.
    return;
  }
  if (!disk) return;  // not a state file: fresh, and the bad file stays until the next save replaces it
  ids_ = std::move(disk->ids);
  listed_ = std::move(disk->listed);
  anchor_.store(disk->anchor);
  // Where several identifiers share a path, the path keeps the last one met.
  paths_.reserve(ids_.size());
  for (auto it = ids_.cbegin(); it != ids_.cend(); ++it) index(it);
}

void State::index(Ids::const_iterator entry) {
  auto [it, added] = paths_.emplace(entry->second, entry->first);
  if (added) return;
  // Another entry of the same path: this one takes its place, with its own spelling.
  paths_.erase(it);
  paths_.emplace(entry->second, entry->first);
}

std::string State::id(std::string_view path) {
  if (path == "/") return platform::kRootContainerItemIdentifier;
  std::lock_guard lock(mu_);
  bool minted = false;
  std::string id = idLocked(path, minted);
  if (minted) save();
  return id;
}

std::optional<std::string> State::existingId(std::string_view path) const {
  if (path == "/") return platform::kRootContainerItemIdentifier;
  std::lock_guard lock(mu_);
  if (auto it = paths_.find(path); it != paths_.end()) return std::string(it->second);
  return std::nullopt;
}

std::string State::idLocked(std::string_view path, bool& minted) {
  if (auto it = paths_.find(path); it != paths_.end()) return std::string(it->second);
  for (;;) {
    auto [it, added] = ids_.try_emplace(platform::uuidString(), path);
    if (!added) continue;  // an identifier already handed out: draw another
    paths_.emplace(it->second, it->first);
    minted = true;
    return it->first;
  }
}

std::optional<std::string> State::path(std::string_view id) {
  if (id == platform::kRootContainerItemIdentifier) return "/";
  std::lock_guard lock(mu_);
  if (auto it = ids_.find(id); it != ids_.end()) return it->second;
  return std::nullopt;
}

void State::move(std::string_view, std::string_view from, std::string_view to) {
  std::lock_guard lock(mu_);
  struct Moved {
    std::string id, oldPath, newPath;
  };
  std::vector<Moved> moved;
  for (const auto& [id, path] : ids_) {
    if (auto newPath = rewritten(path, from, to)) moved.push_back({id, path, std::move(*newPath)});
  }
  // All old paths go before any new one comes in, so a new path is never removed as another's old one.
  for (const auto& m : moved) eraseKey(paths_, m.oldPath);
  for (auto& m : moved) {
    auto entry = ids_.find(m.id);
    entry->second = std::move(m.newPath);
    index(entry);
  }

  // An item that changes folder is no longer a child of its old one: left there, the old folder's next
  // listing would miss it and report it deleted, although it lives on at its new place.
  std::string oldParent = parentPath(from);
  if (!platform::canonicalEqual(oldParent, parentPath(to))) {
    if (auto it = listed_.find(oldParent); it != listed_.end()) eraseKey(it->second, from);
  }
  for (auto& [folder, children] : listed_) rebaseKeys(children, from, to);
  rebaseKeys(listed_, from, to);

  advanceAnchor();
  save();
}

void State::forget(std::string_view path) {
  std::lock_guard lock(mu_);
  forgetLocked(path);
  save();
}

void State::forgetLocked(std::string_view path) {
  for (auto it = ids_.begin(); it != ids_.end();) {
    if (isUnder(it->second, path)) {
      eraseKey(paths_, it->second);
      it = ids_.erase(it);
    } else {
      ++it;
    }
  }
  std::erase_if(listed_, [&](const auto& folder) { return isUnder(folder.first, path); });
  // Only the path itself: a snapshot holds direct children, so what lies deeper has no entry elsewhere.
  for (auto& [folder, children] : listed_) eraseKey(children, path);
  advanceAnchor();
}

void State::remember(std::string_view folder, const std::vector<DavEntry>& children) {
  std::lock_guard lock(mu_);
  rememberLocked(folder, children);
  save();
}

bool State::rememberLocked(std::string_view folder, const std::vector<DavEntry>& children) {
  Snapshot snapshot;
  snapshot.reserve(children.size());
  for (const auto& entry : children) snapshot.try_emplace(entry.path, entry.version());  // the first one wins
  auto it = listed_.find(folder);
  if (it != listed_.end() && it->first == folder && sameSnapshot(it->second, snapshot)) return false;
  setKey(listed_, std::string(folder), std::move(snapshot));
  return true;
}

void State::noteChild(const DavEntry& entry) {
  std::lock_guard lock(mu_);
  if (auto it = listed_.find(parentPath(entry.path)); it != listed_.end()) {
    setKey(it->second, entry.path, entry.version());
  }
  advanceAnchor();
  save();
}

State::Snapshots State::knownFolders() const {
  std::lock_guard lock(mu_);
  return listed_;
}

int64_t State::anchor() const { return anchor_.load(); }

void State::setAnchor(int64_t value) { anchor_.store(value); }

void State::bumpAnchor() {
  std::lock_guard lock(mu_);
  advanceAnchor();
  save();
}

void State::reserveIds(size_t more) {
  // Room for every identifier a batch may mint, made at once: growing step by step rehashes the maps several
  // times over, touching every identifier each time. Only ever grown: reserving less than the maps hold
  // would rehash them to a smaller size.
  auto grow = [more](auto& map) {
    size_t wanted = map.size() + more;
    if (wanted > static_cast<size_t>(static_cast<float>(map.bucket_count()) * map.max_load_factor())) {
      map.reserve(wanted);
    }
  };
  grow(ids_);
  grow(paths_);
}

void State::advanceAnchor() {
  int64_t value = anchor_.load();
  while (value < std::numeric_limits<int64_t>::max() && !anchor_.compare_exchange_weak(value, value + 1)) {
  }
}

std::vector<std::string> State::ids(const std::vector<std::string>& paths) {
  std::vector<std::string> out;
  out.reserve(paths.size());
  std::lock_guard lock(mu_);
  reserveIds(paths.size());
  bool minted = false;
  for (const auto& path : paths) {
    out.push_back(path == "/" ? platform::kRootContainerItemIdentifier : idLocked(path, minted));
  }
  if (minted) save();
  return out;
}

std::vector<std::string> State::commit(const ChangePass& pass) {
  std::vector<std::string> ids;
  ids.reserve(pass.mint.size());
  std::lock_guard lock(mu_);
  bool changed = false;
  for (const auto& step : pass.steps) {
    switch (step.kind) {
      case PassStep::Kind::forget:
        forgetLocked(step.path);
        changed = true;
        break;
      case PassStep::Kind::remember:
        changed = rememberLocked(step.path, step.children) || changed;
        break;
    }
  }
  reserveIds(pass.mint.size());
  for (const auto& path : pass.mint) {
    bool minted = false;
    ids.push_back(path == "/" ? platform::kRootContainerItemIdentifier : idLocked(path, minted));
    changed = minted || changed;
  }
  if (pass.bump) {
    advanceAnchor();
    changed = true;
  }
  if (changed) save();
  return ids;
}

void State::save() {
  try {
    std::string bytes = encodeState(ids_, listed_, anchor_.load(), lastSaveSize_);
    lastSaveSize_ = bytes.size();
    env_.writeFileAtomically(file_, bytes);
  } catch (const std::exception&) {
    // Dropped: the state in memory stays as it is, and since every save writes all of it, the next one
    // makes up for this one. The file keeps the state of the last save that succeeded.
  }
}

}  // namespace davfp
