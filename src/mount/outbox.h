// Outbox: what programs change on the mount, in the journal before the system call returns, and the queue of
// changes to send to the server in order (creations, contents, moves, deletions). Changes to one item
// coalesce: a later change of an item whose creation or move is still queued moves that entry behind
// everything queued meanwhile, where it stands for the item's latest state; deleting an item that never
// reached the server takes its creation back. Senders take entries that are due (a file's creation and
// contents are due a quiet time after the last program that wrote it closed it) and that nothing queued
// before them must precede (see next()), several at once, and settle each with what the server answered.
// Thread-safe (through the JournalDb).
#pragma once

#include <ctime>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "mount/journal.h"
#include "mount/journal_db.h"
#include "mount/node.h"
#include "platform/file_provider.h"

namespace davfp::mount {

class Outbox {
 public:
  // nowMs: milliseconds since the epoch, for due times; now: the wall clock, for conflict names.
  Outbox(JournalDb& db, std::function<int64_t()> nowMs, std::function<std::time_t()> now);

  // Tells whether a program has the item open for writing: while one has, an answer never marks the item
  // clean (the program may still be writing), so that its close sends what it wrote after. Set once, before
  // anything runs.
  void whileOpen(std::function<bool(Ino)> openForWriting) { openForWriting_ = std::move(openForWriting); }

  // A new file (with an empty replica copy, open for writing) or folder; FsError EEXIST when the name is
  // taken.
  Node create(Ino parent, const std::string& name, bool folder);
  // A program changed the file's contents (its first write since it opened it, a truncation).
  void changed(Ino ino);
  void setModificationTime(Ino ino, int64_t mtimeNs);
  // The last program that wrote the file closed it (or asked for it to be synced): its creation or its
  // contents are sent after the quiet time. modifiedNs: its new modification time, in the same transaction.
  void closed(Ino ino, int64_t quietMs, std::optional<int64_t> modifiedNs = std::nullopt);
  // unlink and rmdir: the item goes now and its deletion is queued (nothing is sent for an item that never
  // reached the server).
  Effects remove(Ino ino);
  // rename: the item takes its new place now and its move is queued, in one transaction with the removal
  // of what held the name when replace is given (FsError EEXIST when the name is held and it is not).
  Effects rename(Ino ino, Ino parent, const std::string& name, bool replace);
  // After a restart: whatever waited for a program's close is due now, and a file with unsent contents but
  // nothing queued (its program was writing when the mount ended) gets its contents queued.
  void recover();
  // The mount starts, and ends in order. boot names this run of the machine: a mount that was still running
  // under another one ended with the machine, and the contents it left unsent are in doubt.
  void started(const std::string& boot);
  void ended();
  // Contents whose copy may have lost its last bytes when the machine went down: sent beside the server's
  // version, never over it.
  bool inDoubt(const Op& op);

  // The entries to send now, at most most of them, each marked in flight until it is settled; none when
  // nothing can go now (wakeAtMs: when the next entry that waits for its time will be due, or kNotDue).
  // Entries go in runs of one kind, each after the run before it is settled: creations and contents side by
  // side (an item's own in order, an item after its folder's creation), deletions side by side (a folder's
  // after the deletions of what was in it), moves one at a time.
  std::vector<Op> next(size_t most, int64_t& wakeAtMs);
  // The entry is done: answered (an item, for creations, contents and moves) is what the server holds now,
  // sentDirty the item's dirty count when it was sent and sentIdentifier the identifier it was sent for.
  Effects done(const Op& op, const platform::ItemRef& answered, int64_t sentDirty,
               const platform::ItemIdentifier& sentIdentifier);
  // The entry stays queued, to be tried again.
  void retry(const Op& op);
  // A folder's deletion that the server refused because the folder is not empty goes again after the moves
  // queued behind it, which may take things out of it (a later rename moves an item's queued move behind
  // everything, a folder's deletion too); false, and nothing changed, when no move is queued behind it.
  bool retryAfterMoves(const Op& op);
  // The server holds another version of the file than its local copy was based on (sentIdentifier: the
  // identifier the entry was sent for; an item split or made local meanwhile is left as it is now).
  Effects conflict(const Op& op, const platform::ItemProtocol& server,
                   const platform::ItemIdentifier& sentIdentifier);
  // The server no longer has the item: local work is kept to be created again, the rest forgotten.
  Effects gone(const Op& op);
  // The entry cannot be sent; it is dropped (the item keeps its local state).
  void drop(const Op& op);

  // Puts everything the journal holds on the disk (a program's fsync).
  void sync();

  // Entries queued, and conflicts met since the mount started.
  int64_t pending();

 private:
  void enqueue(const Op& op) REQUIRES(db_.mu);
  void removeNode(const Node& node, Effects& effects) REQUIRES(db_.mu);
  void settle(const Op& op) REQUIRES(db_.mu);

  JournalDb& db_;
  const std::function<int64_t()> nowMs_;
  const std::function<std::time_t()> now_;
  std::set<int64_t> inFlight_ GUARDED_BY(db_.mu);
  int64_t inDoubtUpTo_ GUARDED_BY(db_.mu) = 0;  // the last entry queued before the machine went down
  std::function<bool(Ino)> openForWriting_ = [](Ino) { return false; };
};

}  // namespace davfp::mount
