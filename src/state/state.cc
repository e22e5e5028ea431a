#include "state/state.h"

#include <algorithm>
#include <exception>
#include <limits>
#include <utility>

#include "platform/app_identity.h"
#include "platform/file_provider.h"
#include "platform/server_path.h"
#include "platform/uuid.h"
#include "state/state_file.h"

namespace davfp {
namespace {

using platform::CanonicalMap;
using platform::isUnder;
using platform::parentPath;

// The extension's own data directory, else the temporary directory; created if missing.
std::string stateDirectory(platform::Env& env) {
  auto dir = env.applicationDataDirectory(std::string(platform::kAppBundleID) + ".extension");
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

// rebaseKeys for a snapshot: its keys under from rewritten, a rewritten key replacing an equivalent one.
void rebaseKeys(TextMap& map, std::string_view from, std::string_view to) {
  std::vector<std::string> oldKeys;
  std::vector<std::pair<std::string, std::string>> moved;
  for (size_t i = 0; i < map.size(); ++i) {
    if (auto key = rewritten(map.key(i), from, to)) {
      oldKeys.emplace_back(map.key(i));
      moved.emplace_back(std::move(*key), map.value(i));
    }
  }
  for (const auto& key : oldKeys) map.erase(key);
  for (const auto& [key, value] : moved) map.set(key, value);
}

// The length of the identifiers minted here: UUIDs in text.
constexpr size_t kMintedIdSize = 36;

}  // namespace

State::State(std::string_view domain, platform::Env& env)
    : env_(env), file_(platform::joinPath(stateDirectory(env), stateFileName(domain))) {
  platform::MutexLock lock(mu_);
  load();
}

std::string State::lockFile(std::string_view domain, platform::Env& env) {
  std::string name = stateFileName(domain);
  name.replace(name.size() - std::string_view(".json").size(), std::string::npos, ".lock");
  return platform::joinPath(stateDirectory(env), name);
}

void State::load() {
  std::optional<StateData> disk;
  try {
    disk = decodeStateData(env_.readFile(file_));
  } catch (const std::exception&) {
    // Most often the file does not exist yet. Unreadable means fresh; the next save replaces the file.
    return;
  }
  if (!disk) return;  // not a state file: fresh, and the bad file stays until the next save replaces it
  // Where several identifiers share a path, the path keeps the last one met.
  ids_ = std::move(disk->ids);
  listed_ = std::move(disk->listed);
  anchor_.store(disk->anchor);
}

std::string State::id(std::string_view path) {
  if (path == "/") return platform::kRootContainerItemIdentifier;
  std::string id;
  uint64_t seen = 0;
  {
    platform::MutexLock lock(mu_);
    bool minted = false;
    id = idLocked(path, minted);
    if (minted) {
      seen = ++changes_;
      unsavedIds_[id] = seen;
    } else {
      seen = savingOf(id);
    }
  }
  persist(seen);
  return id;
}

std::optional<std::string> State::existingId(std::string_view path) const {
  if (path == "/") return platform::kRootContainerItemIdentifier;
  std::optional<std::string> id;
  uint64_t seen = 0;
  {
    platform::MutexLock lock(mu_);
    if (size_t i = ids_.findValue(path); i != TextMap::npos) {
      id = std::string(ids_.key(i));
      seen = savingOf(*id);
    }
  }
  persist(seen);
  return id;
}

std::string State::idLocked(std::string_view path, bool& minted) {
  return std::string(ids_.key(idPositionLocked(path, minted)));
}

size_t State::idPositionLocked(std::string_view path, bool& minted) {
  if (size_t i = ids_.findValue(path); i != TextMap::npos) return i;
  for (;;) {
    auto [i, added] = ids_.tryAdd(platform::uuidString(), path);
    if (!added) continue;  // an identifier already handed out: draw another
    minted = true;
    return i;
  }
}

std::optional<std::string> State::path(std::string_view id) {
  if (id == platform::kRootContainerItemIdentifier) return "/";
  platform::MutexLock lock(mu_);
  if (size_t i = ids_.find(id); i != TextMap::npos) return std::string(ids_.value(i));
  return std::nullopt;
}

void State::move(std::string_view id, std::string_view from, std::string_view to) {
  uint64_t seen = 0;
  {
    platform::MutexLock lock(mu_);
    moveLocked(id, from, to);
    seen = ++changes_;
  }
  persist(seen);
}

void State::moveLocked(std::string_view, std::string_view from, std::string_view to) {
  std::vector<std::pair<size_t, std::string>> moved;
  for (size_t i = 0; i < ids_.size(); ++i) {
    if (auto newPath = rewritten(ids_.value(i), from, to)) moved.emplace_back(i, std::move(*newPath));
  }
  // A path leaves the index only while it still finds the identifier being moved, and each new path finds
  // its own: so a new path is never removed as another's old one, whatever the order.
  for (const auto& [i, newPath] : moved) ids_.setValue(i, newPath);

  // An item that changes folder is no longer a child of its old one: left there, the old folder's next
  // listing would miss it and report it deleted, although it lives on at its new place.
  std::string oldParent = parentPath(from);
  if (!platform::canonicalEqual(oldParent, parentPath(to))) {
    if (auto it = listed_.find(oldParent); it != listed_.end()) it->second.erase(from);
  }
  for (auto& [folder, children] : listed_) rebaseKeys(children, from, to);
  rebaseKeys(listed_, from, to);

  advanceAnchor();
}

void State::forget(std::string_view path) {
  uint64_t seen = 0;
  {
    platform::MutexLock lock(mu_);
    forgetLocked(path);
    seen = ++changes_;
  }
  persist(seen);
}

void State::forgetLocked(std::string_view path) {
  for (size_t i = 0; i < ids_.size();) {
    if (isUnder(ids_.value(i), path)) {
      ids_.eraseAt(i);  // the last identifier takes position i
    } else {
      ++i;
    }
  }
  std::erase_if(listed_, [&](const auto& folder) { return isUnder(folder.first, path); });
  // Only the path itself: a snapshot holds direct children, so what lies deeper has no entry elsewhere.
  for (auto& [folder, children] : listed_) children.erase(path);
  advanceAnchor();
}

void State::remember(std::string_view folder, FolderSnapshot children) {
  uint64_t seen = 0;
  {
    platform::MutexLock lock(mu_);
    rememberLocked(folder, std::move(children));
    seen = ++changes_;
  }
  persist(seen);
}

bool State::rememberLocked(std::string_view folder, FolderSnapshot children) {
  auto it = listed_.find(folder);
  if (it != listed_.end() && it->first == folder && it->second.sameAs(children.children_)) return false;
  setKey(listed_, std::string(folder), std::move(children.children_));
  return true;
}

uint64_t State::noteChildLocked(std::string_view path, std::string_view version) {
  if (auto it = listed_.find(parentPath(path)); it != listed_.end()) {
    it->second.set(path, version);
  }
  advanceAnchor();
  return ++changes_;
}

void State::noteChild(std::string_view path, std::string_view version) {
  uint64_t seen = 0;
  {
    platform::MutexLock lock(mu_);
    seen = noteChildLocked(path, version);
  }
  persist(seen);
}

std::string State::noteCreated(std::string_view path, std::string_view version) {
  std::string id;
  uint64_t seen = 0;
  {
    platform::MutexLock lock(mu_);
    seen = noteChildLocked(path, version);
    bool minted = false;
    id = idLocked(path, minted);
    if (minted) unsavedIds_[id] = seen;
  }
  persist(seen);
  return id;
}

State::Snapshots State::knownFolders() const {
  platform::MutexLock lock(mu_);
  Snapshots out;
  out.reserve(listed_.size());
  for (const auto& [folder, children] : listed_) out.emplace(folder, children.toMap());
  return out;
}

int64_t State::anchor() const { return anchor_.load(); }

void State::setAnchor(int64_t value) { anchor_.store(value); }

void State::bumpAnchor() {
  uint64_t seen = 0;
  {
    platform::MutexLock lock(mu_);
    advanceAnchor();
    seen = ++changes_;
  }
  persist(seen);
}

template <class Paths>
void State::reserveIds(const Paths& paths) {
  // Room for every identifier a batch mints, made at once: growing step by step copies the identifiers and
  // rehashes the indexes several times over, and leaves the buffers up to twice the size they need.
  size_t count = 0, text = 0;
  for (const auto& path : paths) {
    if (path == "/" || ids_.findValue(path) != TextMap::npos) continue;
    ++count;
    text += kMintedIdSize + path.size();
  }
  ids_.reserve(count, text);
}

void State::advanceAnchor() {
  int64_t value = anchor_.load();
  while (value < std::numeric_limits<int64_t>::max() && !anchor_.compare_exchange_weak(value, value + 1)) {
  }
}

std::vector<std::string> State::ids(const std::vector<std::string>& paths) {
  std::vector<std::string> out;
  out.reserve(paths.size());
  uint64_t seen = 0;
  {
    platform::MutexLock lock(mu_);
    reserveIds(paths);
    bool minted = false;
    for (const auto& path : paths) {
      out.push_back(path == "/" ? platform::kRootContainerItemIdentifier : idLocked(path, minted));
    }
    if (minted) batchMinted_ = ++changes_;
    seen = anyUnsavedId() ? changes_ : 0;
  }
  persist(seen);
  return out;
}

std::vector<std::string> State::commit(Batch batch) {
  // Where each identifier lies in ids_; the texts are copied out after the save, so that a large batch does
  // not hold them and the file's text at once. Nothing is erased in between, so the positions hold.
  constexpr size_t kRoot = TextMap::npos;
  std::vector<size_t> at;
  at.reserve(batch.mint.size());
  std::vector<std::string> ids;
  uint64_t seen = 0;
  {
    platform::MutexLock lock(mu_);
    bool changed = false;
    for (auto& step : batch.steps) {
      switch (step.kind) {
        case Step::Kind::forget:
          forgetLocked(step.path);
          changed = true;
          break;
        case Step::Kind::remember:
          changed = rememberLocked(step.path, std::move(step.children)) || changed;
          break;
      }
    }
    reserveIds(batch.mint);
    for (const auto& path : batch.mint) {
      bool minted = false;
      at.push_back(path == "/" ? kRoot : idPositionLocked(path, minted));
      changed = minted || changed;
    }
    if (batch.bump) {
      advanceAnchor();
      changed = true;
    }
    if (changed) ++changes_;
    if (changed && !batch.mint.empty()) batchMinted_ = changes_;
    seen = changed || anyUnsavedId() ? changes_ : 0;
    ids.reserve(at.size());
    for (size_t i : at) {
      ids.push_back(i == kRoot ? std::string(platform::kRootContainerItemIdentifier)
                               : std::string(ids_.key(i)));
    }
  }
  persist(seen);
  return ids;
}

void State::persist(uint64_t seen) const {
  {
    platform::MutexLock lock(mu_);
    if (saved_ >= seen) return;
  }
  // One save at a time; the changes made while it writes wait for the next, which carries them all.
  platform::MutexLock saving(saveMu_);
  std::string bytes;
  uint64_t carried = 0;
  {
    platform::MutexLock lock(mu_);
    if (saved_ >= seen) return;  // a save that began after the change carried it
    bytes = encodeState(ids_, listed_, anchor_.load(), lastSaveSize_);
    lastSaveSize_ = bytes.size();
    carried = changes_;
  }
  try {
    env_.writeFileAtomically(file_, bytes);
  } catch (const std::exception&) {
    // Dropped: the state in memory stays as it is, and since every save writes all of it, the next one
    // makes up for this one. The file keeps the state of the last save that succeeded.
  }
  platform::MutexLock lock(mu_);
  saved_ = std::max(saved_, carried);
  const uint64_t saved = saved_;
  std::erase_if(unsavedIds_, [saved](const auto& minted) { return minted.second <= saved; });
}

uint64_t State::savingOf(const std::string& id) const {
  // Minted one at a time: known by name. Minted in a batch: any identifier may be among them.
  uint64_t need = batchMinted_ > saved_ ? batchMinted_ : 0;
  if (auto it = unsavedIds_.find(id); it != unsavedIds_.end()) need = std::max(need, it->second);
  return need;
}

bool State::anyUnsavedId() const { return !unsavedIds_.empty() || batchMinted_ > saved_; }

}  // namespace davfp
