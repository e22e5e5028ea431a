// The rules by which the journal's rows change, shared by what the server says (Journal) and what programs do
// locally (Outbox). Each is called inside the caller's transaction, with the JournalDb's lock held, and notes
// in effects what the kernel and the replica must forget.
#pragma once

#include <ctime>
#include <set>

#include "mount/journal.h"
#include "mount/journal_db.h"
#include "platform/file_provider.h"

namespace davfp::mount {

// The row an item of the server makes under parent, over known when the journal knows it already (keeping
// its inode, and its replica copy while the content version stays).
Node nodeOf(const platform::ItemProtocol& item, Ino parent, const std::optional<Node>& known);

// Writes what the server says about an item under parent. Another row that holds the name there yields:
// local work is renamed out of the way (a conflict name), a row the server no longer backs is forgotten.
void writeServerItem(JournalDb& db, Ino parent, const platform::ItemProtocol& item,
                     const std::optional<Node>& known, std::time_t now, Effects& effects) REQUIRES(db.mu);

// Forgets the item and everything below it, and their changes still to be sent.
void forget(JournalDb& db, const Node& node, Effects& effects) REQUIRES(db.mu);

// Whether the item, or anything below it, holds local work: unsent contents, a creation or another change
// still to be sent.
bool holdsLocalWork(JournalDb& db, const Node& node) REQUIRES(db.mu);

// The server no longer has the item: what holds local work is kept, as local items to be created again
// (a folder with them first), and the rest is forgotten.
void keepLocalWork(JournalDb& db, const Node& node, Effects& effects) REQUIRES(db.mu);

// The server's version of a file changed while the local copy has unsent changes: the local copy keeps its
// inode under a conflict name, to be created on the server, and the server's version takes the name as a new
// dataless item.
void splitConflict(JournalDb& db, const Node& local, Ino parent, const platform::ItemProtocol& server,
                   std::time_t now, Effects& effects) REQUIRES(db.mu);

// Renames a local item out of the way of the server's under a conflict name.
void renameAside(JournalDb& db, Node node, std::time_t now, Effects& effects) REQUIRES(db.mu);

// Sends the changes of the item and everything below it after every other change (their order kept): the
// item's creation now stands for its latest state. Entries on the way (onTheWay) stay as they are: they are
// answered for what they carried.
void requeue(JournalDb& db, Ino ino, const std::set<int64_t>& onTheWay = {}) REQUIRES(db.mu);

// A fresh identifier for an item made locally, until the server's creation answers with its own.
platform::ItemIdentifier localIdentifier();

}  // namespace davfp::mount
