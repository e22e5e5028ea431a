#include "mount/outbox.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>

#include "mount/fs_error.h"
#include "mount/reconcile.h"

namespace davfp::mount {

Outbox::Outbox(JournalDb& db, std::function<int64_t()> nowMs, std::function<std::time_t()> now)
    : db_(db), nowMs_(std::move(nowMs)), now_(std::move(now)) {}

void Outbox::enqueue(const Op& op) { db_.addOp(op); }

void Outbox::settle(const Op& op) {
  inFlight_.erase(op.seq);
  db_.eraseOp(op.seq);
}

Node Outbox::create(Ino parent, const std::string& name, bool folder) {
  platform::MutexLock lock(db_.mu);
  Transaction tx(db_.db());
  auto p = db_.node(parent);
  if (!p) throw FsError(ENOENT);
  if (!p->folder) throw FsError(ENOTDIR);
  if (db_.child(parent, name)) throw FsError(EEXIST);
  Node n;
  n.identifier = localIdentifier();
  n.parent = parent;
  n.name = name;
  n.folder = folder;
  n.mtimeNs = std::chrono::duration_cast<std::chrono::nanoseconds>(
                  std::chrono::system_clock::now().time_since_epoch())
                  .count();
  n.materialised = !folder;
  n.listed = folder;
  n.dirty = folder ? 0 : 1;
  n.local = true;
  n.ino = db_.put(n);
  enqueue({.ino = n.ino, .kind = "create", .due = folder ? 0 : kNotDue});
  tx.commit();
  return n;
}

void Outbox::changed(Ino ino) {
  platform::MutexLock lock(db_.mu);
  auto node = db_.node(ino);
  if (!node) return;
  node->dirty += 1;
  node->materialised = true;
  db_.put(*node);
}

void Outbox::setModificationTime(Ino ino, int64_t mtimeNs) {
  platform::MutexLock lock(db_.mu);
  auto node = db_.node(ino);
  if (!node) return;
  node->mtimeNs = mtimeNs;
  db_.put(*node);
}

void Outbox::closed(Ino ino, int64_t quietMs, std::optional<int64_t> modifiedNs) {
  platform::MutexLock lock(db_.mu);
  Transaction tx(db_.db());
  auto node = db_.node(ino);
  if (!node) return;
  if (modifiedNs) {
    node->mtimeNs = *modifiedNs;
    db_.put(*node);
  }
  const int64_t due = nowMs_() + quietMs;
  bool queued = false, sending = false;
  for (const Op& op : db_.opsOf(ino)) {
    if (op.kind != "create" && op.kind != "contents") continue;
    if (inFlight_.count(op.seq)) {
      sending = true;
      continue;
    }
    db_.setDue(op.seq, due);
    queued = true;
  }
  // Closed while its contents are on the way: what is being sent may lack the program's last writes (a file
  // open for writing counts as changed once, when it is opened), so the answer must not mark it clean.
  if (sending) {
    node->dirty += 1;
    db_.put(*node);
  }
  if (!queued && node->dirty != 0) enqueue({.ino = ino, .kind = "contents", .due = due});
  tx.commit();
}

Effects Outbox::remove(Ino ino) {
  platform::MutexLock lock(db_.mu);
  Transaction tx(db_.db());
  Effects effects;
  auto node = db_.node(ino);
  if (!node) throw FsError(ENOENT);
  removeNode(*node, effects);
  tx.commit();
  return effects;
}

void Outbox::removeNode(const Node& found, Effects& effects) {
  const Node* node = &found;
  const Ino ino = node->ino;
  if (node->ino == kRootIno) throw FsError(EBUSY);
  if (node->folder && !db_.children(ino).empty()) throw FsError(ENOTEMPTY);
  for (const Op& op : db_.opsOf(ino)) {
    if (!inFlight_.count(op.seq)) db_.eraseOp(op.seq);
  }
  // A deletion's entry names the folder it was deleted from: that folder is listed again when the server
  // refuses.
  if (!node->local) {
    enqueue({.ino = node->parent,
             .kind = node->folder ? kDeleteFolder : "delete",
             .identifier = node->identifier,
             .baseVersion = node->version.contentVersion,
             .item = ino});
  }
  db_.erase(ino);
  if (node->materialised) effects.stale.push_back(ino);
  effects.names.emplace_back(node->parent, node->name);
}

Effects Outbox::rename(Ino ino, Ino parent, const std::string& name, bool replace) {
  platform::MutexLock lock(db_.mu);
  Transaction tx(db_.db());
  Effects effects;
  auto node = db_.node(ino);
  if (!node) throw FsError(ENOENT);
  for (Ino up = parent; up != 0;) {  // a folder never goes into itself
    if (up == ino) throw FsError(EINVAL);
    auto above = db_.node(up);
    up = above ? above->parent : 0;
  }
  if (auto holder = db_.child(parent, name)) {
    if (holder->ino == ino) return effects;
    if (!replace) throw FsError(EEXIST);
    if (holder->folder != node->folder) throw FsError(holder->folder ? EISDIR : ENOTDIR);
    removeNode(*holder, effects);
  }
  effects.names.emplace_back(node->parent, node->name);
  effects.names.emplace_back(parent, name);
  effects.changed.push_back(ino);
  node->parent = parent;
  node->name = name;
  db_.put(*node);
  // A queued creation or move carries the new place; one on the way carries the old, and a move follows it.
  bool queued = false;
  for (const Op& op : db_.opsOf(ino)) {
    const bool carriesPlace = op.kind == "move" || (op.kind == "create" && node->local);
    queued = queued || (carriesPlace && !inFlight_.count(op.seq));
  }
  if (!queued) enqueue({.ino = ino, .kind = "move"});
  requeue(db_, ino, inFlight_);
  tx.commit();
  return effects;
}

void Outbox::recover() {
  platform::MutexLock lock(db_.mu);
  Transaction tx(db_.db());
  const int64_t now = nowMs_();
  for (const Op& op : db_.ops()) {
    if (op.due > now) db_.setDue(op.seq, now);
  }
  for (const Node& node : db_.unsent()) {
    if (!db_.opsOf(node.ino).empty()) continue;
    enqueue({.ino = node.ino, .kind = node.local ? "create" : "contents", .due = now});
  }
  tx.commit();
}

void Outbox::started(const std::string& boot) {
  recover();
  platform::MutexLock lock(db_.mu);
  Transaction tx(db_.db());
  // The journal's entries reach the disk in order, but a copy's bytes on their own time: after the machine
  // went down under a running mount, an entry may speak for contents that never reached the disk.
  int64_t upTo = std::strtoll(db_.meta("inDoubtUpTo").c_str(), nullptr, 10);
  if (db_.meta("running") == "1" && db_.meta("boot") != boot) {
    db_.forEachOp([&upTo](const Op& op) {
      upTo = std::max(upTo, op.seq);
      return true;
    });
    db_.setMeta("inDoubtUpTo", std::to_string(upTo));
  }
  inDoubtUpTo_ = upTo;
  db_.setMeta("running", "1");
  db_.setMeta("boot", boot);
  tx.commit();
  db_.db().sync();
}

void Outbox::ended() {
  platform::MutexLock lock(db_.mu);
  Transaction tx(db_.db());
  db_.setMeta("running", "0");
  tx.commit();
  db_.db().sync();
}

bool Outbox::inDoubt(const Op& op) {
  platform::MutexLock lock(db_.mu);
  return op.kind == "contents" && op.seq <= inDoubtUpTo_;
}

namespace {

// Entries are sent in runs of one kind, each run after the one before it is settled: creations and contents
// side by side (an item's own entries in order, and nothing in a folder before the folder's creation is
// answered), deletions side by side (a folder's after the deletions of what was in it), and moves one at a
// time.
enum class Run { items, deletions, move };

Run runOf(const Op& op) {
  if (isDeletion(op)) return Run::deletions;
  return op.kind == "move" ? Run::move : Run::items;
}

}  // namespace

std::vector<Op> Outbox::next(size_t most, int64_t& wakeAtMs) {
  platform::MutexLock lock(db_.mu);
  wakeAtMs = kNotDue;
  const int64_t now = nowMs_();
  std::set<Ino> waiting;   // items with an entry before: theirs go in order
  std::set<Ino> creating;  // items whose creation is queued before or on the way
  std::optional<Run> run;  // the run at the head of the queue
  bool before = false;     // an entry of the run is queued before or on the way
  std::set<Ino> emptying;  // folders something was deleted from, its deletion queued before or on the way
  std::vector<Op> found;
  if (most == 0) return found;
  // One look at the queue hands out several entries: each found one counts as on the way for the entries
  // after it, as it would for a second look.
  db_.forEachOp([&](const Op& op) REQUIRES(db_.mu) {
    const bool flying = inFlight_.count(op.seq) != 0;
    const bool ownItem = !isDeletion(op);
    const bool due = flying || op.due <= now;
    const Run kind = runOf(op);
    if (due && run && *run != kind) return false;
    bool blocked = flying || (ownItem && waiting.count(op.ino)) || (run && *run != kind);
    if (!blocked && kind == Run::items && !creating.empty()) {
      auto parent = db_.parentOf(op.ino);
      blocked = parent && creating.count(*parent);
    }
    if (!blocked && kind == Run::move) blocked = before;
    if (!blocked && op.kind == kDeleteFolder) {
      // The server deletes only an empty folder. rm -r deletes folder after folder: each waits for its own
      // contents, not for the folders after it. An entry from an older journal does not know its folder.
      blocked = op.item == 0 ? before : emptying.count(op.item) != 0;
    }
    if (!due) {
      // Still being written: it stands aside, but its item's later entries wait for it. Its time to be
      // looked at again counts only if it could go then: one held back by an entry queued before it is
      // looked at again when that entry settles. Otherwise, with the server slower than the program that
      // writes, every file's due time would bring a look at the whole queue and find nothing to send.
      if (!blocked) wakeAtMs = std::min(wakeAtMs, op.due);
      if (ownItem) waiting.insert(op.ino);
      return true;
    }
    run = kind;
    if (!blocked) {
      inFlight_.insert(op.seq);
      found.push_back(op);
      if (found.size() >= most) return false;
    }
    if (ownItem) waiting.insert(op.ino);
    if (op.kind == "create") creating.insert(op.ino);
    if (kind == Run::deletions) emptying.insert(op.ino);
    before = true;
    return kind != Run::move;  // a move waits alone at the head
  });
  return found;
}

Effects Outbox::done(const Op& op, const platform::ItemRef& answered, int64_t sentDirty,
                     const platform::ItemIdentifier& sentIdentifier) {
  platform::MutexLock lock(db_.mu);
  Transaction tx(db_.db());
  Effects effects;
  settle(op);
  if (!isDeletion(op) && answered) {
    auto node = db_.node(op.ino);
    if (!node) {
      // Deleted here while its creation was on the way: the server has it now, so it is deleted there too.
      if (op.kind == "create") {
        enqueue({.kind = "delete",
                 .identifier = answered->itemIdentifier(),
                 .baseVersion = answered->itemVersion().contentVersion});
      }
    } else if (node->identifier == sentIdentifier) {
      // What the sender carried: a creation and a contents entry the contents, a move of an item on the
      // server none. Without them a file with unsent contents keeps its size and the content version they
      // are based on, so that sending them still meets a change made on the server meanwhile.
      const bool carriedContents = node->local || op.kind == "contents";
      Node n = *node;
      n.identifier = answered->itemIdentifier();
      n.local = false;
      if (n.folder) n.listed = true;
      if (carriedContents || n.dirty == 0) {
        n.version = answered->itemVersion();
        if (!n.folder && answered->documentSize()) n.size = *answered->documentSize();
      } else {
        n.version.metadataVersion = answered->itemVersion().metadataVersion;
      }
      if (carriedContents && n.dirty == sentDirty && !openForWriting_(n.ino)) n.dirty = 0;
      db_.put(n);
      effects.changed.push_back(n.ino);
    }
  }
  tx.commit();
  return effects;
}

void Outbox::retry(const Op& op) {
  platform::MutexLock lock(db_.mu);
  inFlight_.erase(op.seq);
}

bool Outbox::retryAfterMoves(const Op& op) {
  platform::MutexLock lock(db_.mu);
  bool moveBehind = false;
  db_.forEachOp([&](const Op& queued) {
    moveBehind = queued.seq > op.seq && queued.kind == "move";
    return !moveBehind;
  });
  if (!moveBehind) return false;
  Transaction tx(db_.db());
  settle(op);
  Op again = op;
  again.seq = 0;
  enqueue(again);
  tx.commit();
  return true;
}

Effects Outbox::conflict(const Op& op, const platform::ItemProtocol& server,
                         const platform::ItemIdentifier& sentIdentifier) {
  platform::MutexLock lock(db_.mu);
  Transaction tx(db_.db());
  Effects effects;
  settle(op);
  // A change pass that met the server's version while this entry was on the way has split the file
  // already: its local copy carries a local identifier now, and its creation is queued under the conflict
  // name. Splitting it again would send the same contents twice, under two conflict names.
  auto node = db_.node(op.ino);
  if (node && node->identifier == sentIdentifier)
    splitConflict(db_, *node, node->parent, server, now_(), effects);
  tx.commit();
  return effects;
}

Effects Outbox::gone(const Op& op) {
  platform::MutexLock lock(db_.mu);
  Transaction tx(db_.db());
  Effects effects;
  settle(op);
  if (auto node = db_.node(op.ino)) keepLocalWork(db_, *node, effects);
  tx.commit();
  return effects;
}

void Outbox::drop(const Op& op) {
  platform::MutexLock lock(db_.mu);
  settle(op);
}

void Outbox::sync() {
  platform::MutexLock lock(db_.mu);
  db_.db().sync();
}

int64_t Outbox::pending() {
  platform::MutexLock lock(db_.mu);
  return static_cast<int64_t>(db_.ops().size());
}

}  // namespace davfp::mount
