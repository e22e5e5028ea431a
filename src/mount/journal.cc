#include "mount/journal.h"

#include <cerrno>
#include <cstdlib>
#include <set>

#include "mount/fs_error.h"
#include "mount/reconcile.h"

namespace davfp::mount {

Journal::Journal(JournalDb& db, std::function<std::time_t()> now) : db_(db), now_(std::move(now)) {}

std::optional<Node> Journal::node(Ino ino) {
  platform::MutexLock lock(db_.mu);
  return db_.node(ino);
}

std::optional<Node> Journal::byIdentifier(const platform::ItemIdentifier& identifier) {
  platform::MutexLock lock(db_.mu);
  return db_.byIdentifier(identifier);
}

std::vector<Ino> Journal::materialisedFiles() {
  platform::MutexLock lock(db_.mu);
  return db_.materialisedFiles();
}

std::optional<Node> Journal::child(Ino parent, const std::string& name) {
  platform::MutexLock lock(db_.mu);
  return db_.child(parent, name);
}

std::vector<Node> Journal::children(Ino parent) {
  platform::MutexLock lock(db_.mu);
  return db_.children(parent);
}

Effects Journal::applyListing(Ino folder, const std::vector<platform::ItemRef>& items) {
  platform::MutexLock lock(db_.mu);
  Effects effects;
  Transaction tx(db_.db());
  auto self = db_.node(folder);
  if (!self) return effects;  // forgotten while it was listed
  std::set<platform::ItemIdentifier> listed;
  for (const auto& item : items) listed.insert(item->itemIdentifier());
  for (const Node& child : db_.children(folder)) {
    if (!listed.count(child.identifier)) keepLocalWork(db_, child, effects);
  }
  const std::time_t now = now_();
  for (const auto& item : items) {
    if (db_.deletionPending(item->itemIdentifier())) continue;
    auto known = db_.byIdentifier(item->itemIdentifier());
    if (known && !db_.opsOf(known->ino).empty()) continue;  // its local change is sent first
    if (known && known->dirty != 0 && known->version.contentVersion != item->itemVersion().contentVersion) {
      splitConflict(db_, *known, folder, *item, now, effects);
      continue;
    }
    writeServerItem(db_, folder, *item, known, now, effects);
  }
  if (!self->listed) {
    // The kernel asks for no name in a folder before its first listing is in: it has none of them to
    // forget, and telling it to would drop the entries that programs looked up since.
    std::erase_if(effects.names, [folder](const auto& name) { return name.first == folder; });
  }
  self = db_.node(folder);
  self->listed = true;
  db_.put(*self);
  tx.commit();
  return effects;
}

Effects Journal::applyChanges(const std::vector<platform::ItemRef>& updated,
                              const std::vector<platform::ItemIdentifier>& deleted,
                              const platform::SyncAnchor& anchor) {
  platform::MutexLock lock(db_.mu);
  Effects effects;
  Transaction tx(db_.db());
  for (const auto& id : deleted) {
    if (id == platform::kRootContainerItemIdentifier) continue;
    if (auto known = db_.byIdentifier(id)) keepLocalWork(db_, *known, effects);
  }
  const std::time_t now = now_();
  for (const auto& item : updated) {
    const auto& id = item->itemIdentifier();
    if (id == platform::kRootContainerItemIdentifier || db_.deletionPending(id)) continue;
    auto known = db_.byIdentifier(id);
    if (known && known->dirty != 0 && known->version.contentVersion != item->itemVersion().contentVersion) {
      auto parent = db_.node(known->parent);
      if (parent) splitConflict(db_, *known, parent->ino, *item, now, effects);
      continue;
    }
    if (known && !db_.opsOf(known->ino).empty()) continue;  // its local change is sent first
    auto parent = db_.byIdentifier(item->parentItemIdentifier());
    if (!parent || !parent->listed) {
      // Its folder is not known or not listed: the listing of that folder brings it when it is asked for.
      if (known) keepLocalWork(db_, *known, effects);
      continue;
    }
    writeServerItem(db_, parent->ino, *item, known, now, effects);
  }
  db_.setMeta("anchor", anchor);
  tx.commit();
  return effects;
}

void Journal::setMaterialised(Ino ino, const platform::ItemProtocol& item) {
  platform::MutexLock lock(db_.mu);
  auto node = db_.node(ino);
  if (!node || node->dirty != 0 || node->local) return;
  Node n = nodeOf(item, node->parent, node);
  n.name = node->name;  // a rename is the change pass's to report
  n.materialised = true;
  db_.put(n);
}

void Journal::unlist(Ino folder) {
  platform::MutexLock lock(db_.mu);
  if (auto node = db_.node(folder); node && node->listed) {
    node->listed = false;
    db_.put(*node);
  }
}

void Journal::setPolicy(Ino ino, Policy policy) {
  platform::MutexLock lock(db_.mu);
  auto node = db_.node(ino);
  if (!node) throw FsError(ENOENT);
  if (node->policy == policy) return;
  node->policy = policy;
  db_.put(*node);
}

namespace {

bool pinnedIn(JournalDb& db, Ino ino) REQUIRES(db.mu) {
  // Parents are always known (a forgotten folder takes its subtree with it); the bound guards a damaged
  // journal against a loop.
  for (int depth = 0; ino != 0 && depth < 4096; ++depth) {
    auto node = db.node(ino);
    if (!node) break;
    if (node->policy != Policy::inherited) return node->policy == Policy::pinned;
    ino = node->parent;
  }
  return false;
}

}  // namespace

bool Journal::pinned(Ino ino) {
  platform::MutexLock lock(db_.mu);
  return pinnedIn(db_, ino);
}

ItemState Journal::state(Ino ino) {
  platform::MutexLock lock(db_.mu);
  auto node = db_.node(ino);
  if (!node) throw FsError(ENOENT);
  if (!node->folder && ("\n" + db_.meta("conflicts")).find("\n" + node->name + "\n") != std::string::npos) {
    return ItemState::conflict;
  }
  if (node->dirty != 0 || node->local || !db_.opsOf(ino).empty()) return ItemState::pending;
  const bool present = node->folder ? node->listed : node->materialised;
  return present ? ItemState::materialised : ItemState::dataless;
}

bool Journal::evict(Ino ino) {
  platform::MutexLock lock(db_.mu);
  auto node = db_.node(ino);
  if (!node) throw FsError(ENOENT);
  if (node->folder) throw FsError(EISDIR);
  if (node->dirty != 0 || node->local || !db_.opsOf(ino).empty()) throw FsError(EBUSY);
  if (pinnedIn(db_, ino)) throw FsError(EBUSY);
  if (!node->materialised) return false;
  node->materialised = false;
  db_.put(*node);
  return true;
}

void Journal::noteReplicaLimit(int64_t maxBytes, int64_t evictions, bool over) {
  platform::MutexLock lock(db_.mu);
  Transaction tx(db_.db());
  db_.setMeta("cacheMax", std::to_string(maxBytes));
  db_.setMeta("evictions", std::to_string(evictions));
  db_.setMeta("overLimit", over ? "1" : "0");
  tx.commit();
}

void Journal::notePass(std::time_t when, const std::string& error) {
  platform::MutexLock lock(db_.mu);
  Transaction tx(db_.db());
  db_.setMeta("lastPass", std::to_string(when));
  db_.setMeta("lastPassError", error);
  db_.setMeta("passes", std::to_string(std::strtoll(db_.meta("passes").c_str(), nullptr, 10) + 1));
  tx.commit();
}

platform::SyncAnchor Journal::anchor() {
  platform::MutexLock lock(db_.mu);
  return db_.meta("anchor");
}

int64_t Journal::count() {
  platform::MutexLock lock(db_.mu);
  return db_.count();
}

}  // namespace davfp::mount
