// JournalDb: the tables of the mount's journal in SQLite and the row-level reads and writes that Journal
// (what the server says) and Outbox (what programs changed locally) are made of.
//
// items: every item the mount knows, by inode number (never reused); ops: the local changes still to be sent,
// in the order they are to be sent; meta: the sync anchor. One connection: every method is called with mu
// held, and each platform event is one Transaction taken by the caller.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "mount/node.h"
#include "mount/sqlite_db.h"
#include "platform/mutex.h"

namespace davfp::mount {

// One local change to be sent. kind: "create" (the item as it is when sent), "contents", "move" (to where it
// is when sent), "delete" or "delete-folder" (identifier and base version as they were when it was deleted
// here; ino is the folder it was deleted from, item the deleted item's own inode number).
struct Op {
  int64_t seq = 0;
  Ino ino = 0;
  std::string kind;
  platform::ItemIdentifier identifier;
  std::string baseVersion;
  int64_t due = 0;  // milliseconds since the epoch; kNotDue while a program still writes the file
  Ino item = 0;     // deletions only; 0 in a journal written before deletions carried it
};
inline constexpr int64_t kNotDue = INT64_MAX;
inline constexpr const char* kDeleteFolder = "delete-folder";

inline bool isDeletion(const Op& op) { return op.kind == "delete" || op.kind == kDeleteFolder; }

class JournalDb {
 public:
  // Opens the journal at path, making its tables (and the root) when it is new.
  explicit JournalDb(const std::string& path);
  ~JournalDb();

  platform::Mutex mu;
  SqliteDb& db() REQUIRES(mu) { return db_; }

  std::optional<Node> node(Ino ino) REQUIRES(mu);
  // The folder that holds the item (0 for the root); none when the item is not known.
  std::optional<Ino> parentOf(Ino ino) REQUIRES(mu);
  std::optional<Node> byIdentifier(const platform::ItemIdentifier& identifier) REQUIRES(mu);
  std::optional<Node> child(Ino parent, const std::string& name) REQUIRES(mu);
  std::vector<Node> children(Ino parent) REQUIRES(mu);
  // Writes node: a new row with a new inode number when node.ino is 0, else over the row of node.ino.
  Ino put(const Node& node) REQUIRES(mu);
  void erase(Ino ino) REQUIRES(mu);
  // The item and every item below it, the item first.
  std::vector<Node> subtree(Ino ino) REQUIRES(mu);
  int64_t count() REQUIRES(mu);
  // Items with local work: unsent contents, or never sent.
  std::vector<Node> unsent() REQUIRES(mu);
  // Files whose contents are in the replica.
  std::vector<Ino> materialisedFiles() REQUIRES(mu);
  // The bytes of the files whose effective policy is pinned (as the server sizes them).
  int64_t pinnedBytes() REQUIRES(mu);

  std::string meta(const std::string& key) REQUIRES(mu);
  void setMeta(const std::string& key, const std::string& value) REQUIRES(mu);

  int64_t addOp(const Op& op) REQUIRES(mu);
  std::vector<Op> ops() REQUIRES(mu);
  // Calls visit with each entry in order until it returns false.
  void forEachOp(const std::function<bool(const Op&)>& visit) REQUIRES(mu);
  // The item's own entries: a deletion's entry names the folder it was deleted from but is not that folder's.
  std::vector<Op> opsOf(Ino ino) REQUIRES(mu);
  void eraseOp(int64_t seq) REQUIRES(mu);
  void setDue(int64_t seq, int64_t due) REQUIRES(mu);
  // Whether a deletion of identifier waits to be sent.
  bool deletionPending(const platform::ItemIdentifier& identifier) REQUIRES(mu);

 private:
  struct Statements;
  SqliteDb db_;
  std::unique_ptr<Statements> s_;
};

}  // namespace davfp::mount
