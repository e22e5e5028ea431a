#include "mount/reconcile.h"

#include <algorithm>
#include <chrono>

#include "mount/conflict_name.h"
#include "platform/mime_registry.h"
#include "platform/uuid.h"

namespace davfp::mount {

namespace {

int64_t nanoseconds(const std::optional<platform::Date>& date) {
  if (!date) return 0;
  return std::chrono::duration_cast<std::chrono::nanoseconds>(date->time_since_epoch()).count();
}

// The item becomes local: a fresh identifier, no server version, and a creation queued after everything else.
void makeLocal(JournalDb& db, Node node, Effects& effects) REQUIRES(db.mu) {
  for (const Op& op : db.opsOf(node.ino)) db.eraseOp(op.seq);
  node.identifier = localIdentifier();
  node.version = {};
  node.local = true;
  if (node.folder) node.listed = true;
  db.put(node);
  db.addOp({.ino = node.ino, .kind = "create"});
  effects.changed.push_back(node.ino);
}

}  // namespace

platform::ItemIdentifier localIdentifier() { return "local-" + platform::uuidString(); }

Node nodeOf(const platform::ItemProtocol& item, Ino parent, const std::optional<Node>& known) {
  Node n = known.value_or(Node{});
  const auto version = item.itemVersion();
  n.identifier = item.itemIdentifier();
  n.parent = parent;
  n.name = item.filename();
  n.folder = item.contentType() == platform::kFolderType;
  n.size = n.folder ? 0 : item.documentSize().value_or(0);
  n.mtimeNs = nanoseconds(item.contentModificationDate());
  if (known && known->version.contentVersion != version.contentVersion) n.materialised = false;
  n.version = version;
  n.local = false;
  if (!n.folder) n.listed = false;
  return n;
}

void writeServerItem(JournalDb& db, Ino parent, const platform::ItemProtocol& item,
                     const std::optional<Node>& known, std::time_t now, Effects& effects) {
  auto holder = db.child(parent, item.filename());
  if (holder && (!known || holder->ino != known->ino)) {
    if (holdsLocalWork(db, *holder)) {
      renameAside(db, *holder, now, effects);
    } else {
      forget(db, *holder, effects);
    }
  }
  Node n = nodeOf(item, parent, known);
  if (known) {
    if (known->parent != n.parent || known->name != n.name) {
      effects.names.emplace_back(known->parent, known->name);
      effects.names.emplace_back(n.parent, n.name);
    }
    if (known->materialised && !n.materialised) effects.stale.push_back(known->ino);
    const bool same = known->parent == n.parent && known->name == n.name && known->folder == n.folder &&
                      known->size == n.size && known->mtimeNs == n.mtimeNs && known->version == n.version;
    if (same) return;
    effects.changed.push_back(known->ino);
  } else {
    effects.names.emplace_back(parent, n.name);
  }
  db.put(n);
}

void forget(JournalDb& db, const Node& node, Effects& effects) {
  for (const Node& gone : db.subtree(node.ino)) {
    if (gone.materialised) effects.stale.push_back(gone.ino);
    for (const Op& op : db.opsOf(gone.ino)) db.eraseOp(op.seq);
    db.erase(gone.ino);
  }
  effects.names.emplace_back(node.parent, node.name);
  effects.changed.push_back(node.ino);
}

bool holdsLocalWork(JournalDb& db, const Node& node) {
  for (const Node& n : db.subtree(node.ino)) {
    if (n.dirty != 0 || n.local || !db.opsOf(n.ino).empty()) return true;
  }
  return false;
}

void keepLocalWork(JournalDb& db, const Node& node, Effects& effects) {
  if (!holdsLocalWork(db, node)) {
    forget(db, node, effects);
    return;
  }
  if (node.local) return;  // never was on the server: its creation is queued already
  // A file without local contents cannot hold local work but through a pending move: its contents are gone.
  if (!node.folder && node.dirty == 0) {
    forget(db, node, effects);
    return;
  }
  makeLocal(db, node, effects);
  if (!node.folder) return;
  for (const Node& child : db.children(node.ino)) keepLocalWork(db, child, effects);
  requeue(db, node.ino);
}

void splitConflict(JournalDb& db, const Node& local, Ino parent, const platform::ItemProtocol& server,
                   std::time_t now, Effects& effects) {
  renameAside(db, local, now, effects);
  Node moved = *db.node(local.ino);
  makeLocal(db, moved, effects);
  writeServerItem(db, parent, server, std::nullopt, now, effects);
}

void renameAside(JournalDb& db, Node node, std::time_t now, Effects& effects) {
  std::string name = conflictName(node.name, now);
  for (int n = 2; db.child(node.parent, name); ++n)
    name = conflictName(node.name, now) + " " + std::to_string(n);
  effects.names.emplace_back(node.parent, node.name);
  effects.names.emplace_back(node.parent, name);
  effects.conflicts.push_back(name);
  // The latest conflicts, newest last, for davfp status.
  std::string noted = db.meta("conflicts") + name + "\n";
  while (std::count(noted.begin(), noted.end(), '\n') > 20) noted.erase(0, noted.find('\n') + 1);
  db.setMeta("conflicts", noted);
  node.name = name;
  db.put(node);
  // A local item's creation carries the new name; an item on the server needs its move.
  bool queued = node.local;
  for (const Op& op : db.opsOf(node.ino)) queued = queued || op.kind == "move";
  if (!queued) db.addOp({.ino = node.ino, .kind = "move"});
  requeue(db, node.ino);
}

void requeue(JournalDb& db, Ino ino, const std::set<int64_t>& onTheWay) {
  std::vector<Op> moving;
  for (const Node& n : db.subtree(ino)) {
    for (const Op& op : db.opsOf(n.ino)) {
      if (!onTheWay.count(op.seq)) moving.push_back(op);
    }
  }
  std::sort(moving.begin(), moving.end(), [](const Op& a, const Op& b) { return a.seq < b.seq; });
  for (const Op& op : moving) db.eraseOp(op.seq);
  for (Op op : moving) {
    op.seq = 0;
    db.addOp(op);
  }
}

}  // namespace davfp::mount
