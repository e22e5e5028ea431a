#include "mount/journal_db.h"

namespace davfp::mount {

namespace {

constexpr const char* kSchema = R"(
CREATE TABLE IF NOT EXISTS items(
  ino INTEGER PRIMARY KEY AUTOINCREMENT,
  identifier BLOB NOT NULL UNIQUE,
  parent INTEGER,
  name BLOB NOT NULL,
  folder INTEGER NOT NULL,
  size INTEGER NOT NULL DEFAULT 0,
  mtime INTEGER NOT NULL DEFAULT 0,
  content_version BLOB NOT NULL DEFAULT x'',
  metadata_version BLOB NOT NULL DEFAULT x'',
  materialised INTEGER NOT NULL DEFAULT 0,
  listed INTEGER NOT NULL DEFAULT 0,
  dirty INTEGER NOT NULL DEFAULT 0,
  local INTEGER NOT NULL DEFAULT 0,
  policy INTEGER NOT NULL DEFAULT 0);
CREATE INDEX IF NOT EXISTS items_by_name ON items(parent, name);
CREATE TABLE IF NOT EXISTS ops(
  seq INTEGER PRIMARY KEY AUTOINCREMENT,
  ino INTEGER NOT NULL,
  kind TEXT NOT NULL,
  identifier BLOB NOT NULL DEFAULT x'',
  base_version BLOB NOT NULL DEFAULT x'',
  due INTEGER NOT NULL DEFAULT 0,
  item INTEGER NOT NULL DEFAULT 0);
CREATE INDEX IF NOT EXISTS ops_by_ino ON ops(ino);
-- Whether an item's deletion waits to be sent is asked for every item a listing brings; without this the
-- question reads the whole queue, under the journal's lock, while thousands of uploads wait in it.
CREATE INDEX IF NOT EXISTS ops_deleting ON ops(identifier) WHERE kind IN ('delete', 'delete-folder');
CREATE TABLE IF NOT EXISTS meta(key TEXT PRIMARY KEY, value BLOB NOT NULL);
)";

#define NODE_COLUMNS                                                                                      \
  "ino, identifier, parent, name, folder, size, mtime, content_version, metadata_version, materialised, " \
  "listed, dirty, local, policy"

Node readNode(const Statement& s) {
  Node n;
  n.ino = s.integer(0);
  n.identifier = s.text(1);
  n.parent = s.isNull(2) ? 0 : s.integer(2);
  n.name = s.text(3);
  n.folder = s.integer(4) != 0;
  n.size = s.integer(5);
  n.mtimeNs = s.integer(6);
  n.version = {s.text(7), s.text(8)};
  n.materialised = s.integer(9) != 0;
  n.listed = s.integer(10) != 0;
  n.dirty = s.integer(11);
  n.local = s.integer(12) != 0;
  const int64_t policy = s.integer(13);
  n.policy = policy == 1 ? Policy::pinned : policy == 2 ? Policy::unpinned : Policy::inherited;
  return n;
}

Op readOp(const Statement& s) {
  return Op{s.integer(0), static_cast<Ino>(s.integer(1)), s.text(2), s.text(3), s.text(4), s.integer(5),
            static_cast<Ino>(s.integer(6))};
}

std::optional<Node> oneNode(Statement& s) {
  std::optional<Node> out;
  while (s.step()) {
    if (!out) out = readNode(s);
  }
  return out;
}

// A journal written before a column was added gets it, with its default in every row; nothing else changes.
void addColumn(SqliteDb& db, const std::string& table, const std::string& column) {
  bool present = false;
  for (Statement columns(db, "SELECT name FROM pragma_table_info('" + table + "')"); columns.step();) {
    present = present || columns.text(0) == column;
  }
  if (!present) db.exec("ALTER TABLE " + table + " ADD COLUMN " + column + " INTEGER NOT NULL DEFAULT 0");
}

// The tables, and the root, when the journal is new; the columns added since, when it is older.
bool made(SqliteDb& db) {
  db.exec(kSchema);
  addColumn(db, "items", "policy");  // every item inherits
  addColumn(db, "ops", "item");      // a queued folder deletion waits for everything before it
  Statement root(db,
                 "INSERT OR IGNORE INTO items(ino, identifier, parent, name, folder, listed) "
                 "VALUES(?1, ?2, NULL, x'', 1, 0)");
  root.bind(1, static_cast<int64_t>(kRootIno)).bindBlob(2, platform::kRootContainerItemIdentifier).run();
  return true;
}

}  // namespace

struct JournalDb::Statements {
  explicit Statements(SqliteDb& db) : ready(made(db)), db_(db) {}

  const bool ready;  // the tables exist before the statements are prepared against them
  SqliteDb& db_;
  Statement byIno{db_, "SELECT " NODE_COLUMNS " FROM items WHERE ino = ?1"};
  Statement parentOf{db_, "SELECT parent FROM items WHERE ino = ?1"};
  Statement byIdentifier{db_, "SELECT " NODE_COLUMNS " FROM items WHERE identifier = ?1"};
  Statement child{db_, "SELECT " NODE_COLUMNS " FROM items WHERE parent = ?1 AND name = ?2"};
  Statement children{db_, "SELECT " NODE_COLUMNS " FROM items WHERE parent = ?1 ORDER BY name"};
  Statement subtree{
      db_,
      "WITH RECURSIVE below(ino, depth) AS (SELECT ?1, 0 UNION ALL SELECT items.ino, below.depth + 1 "
      "FROM items JOIN below ON items.parent = below.ino) SELECT " NODE_COLUMNS
      " FROM items JOIN below USING (ino) ORDER BY below.depth"};
  Statement put{
      db_,
      "INSERT OR REPLACE INTO items(ino, identifier, parent, name, folder, size, mtime, content_version, "
      "metadata_version, materialised, listed, dirty, local, policy) "
      "VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14)"};
  Statement erase{db_, "DELETE FROM items WHERE ino = ?1"};
  Statement count{db_, "SELECT count(*) FROM items"};
  Statement unsent{db_, "SELECT " NODE_COLUMNS " FROM items WHERE dirty != 0 OR local != 0"};
  Statement materialisedFiles{db_, "SELECT ino FROM items WHERE materialised != 0 AND folder = 0"};
  // From each item pinned on its own down through the items that inherit.
  Statement pinnedBytes{
      db_,
      "WITH RECURSIVE pinned(ino) AS (SELECT ino FROM items WHERE policy = 1 UNION SELECT items.ino FROM "
      "items JOIN pinned ON items.parent = pinned.ino WHERE items.policy = 0) "
      "SELECT coalesce(sum(size), 0) FROM items JOIN pinned USING (ino) WHERE folder = 0"};
  Statement meta{db_, "SELECT value FROM meta WHERE key = ?1"};
  Statement setMeta{db_, "INSERT OR REPLACE INTO meta(key, value) VALUES(?1, ?2)"};
  Statement addOp{db_,
                  "INSERT INTO ops(ino, kind, identifier, base_version, due, item) "
                  "VALUES(?1, ?2, ?3, ?4, ?5, ?6)"};
  Statement ops{db_, "SELECT seq, ino, kind, identifier, base_version, due, item FROM ops ORDER BY seq"};
  Statement opsOf{db_,
                  "SELECT seq, ino, kind, identifier, base_version, due, item FROM ops WHERE ino = ?1 "
                  "AND kind NOT IN ('delete', 'delete-folder') ORDER BY seq"};
  Statement eraseOp{db_, "DELETE FROM ops WHERE seq = ?1"};
  Statement setDue{db_, "UPDATE ops SET due = ?2 WHERE seq = ?1"};
  Statement deletion{db_, "SELECT 1 FROM ops WHERE kind IN ('delete', 'delete-folder') AND identifier = ?1"};
};

JournalDb::JournalDb(const std::string& path) : db_(path), s_(std::make_unique<Statements>(db_)) {}

JournalDb::~JournalDb() = default;

std::optional<Node> JournalDb::node(Ino ino) { return oneNode(s_->byIno.bind(1, static_cast<int64_t>(ino))); }

std::optional<Ino> JournalDb::parentOf(Ino ino) {
  std::optional<Ino> parent;
  for (Statement& s = s_->parentOf.bind(1, static_cast<int64_t>(ino)); s.step();) {
    if (!parent) parent = s.isNull(0) ? 0 : static_cast<Ino>(s.integer(0));
  }
  return parent;
}

std::optional<Node> JournalDb::byIdentifier(const platform::ItemIdentifier& identifier) {
  return oneNode(s_->byIdentifier.bindBlob(1, identifier));
}

std::optional<Node> JournalDb::child(Ino parent, const std::string& name) {
  return oneNode(s_->child.bind(1, static_cast<int64_t>(parent)).bindBlob(2, name));
}

std::vector<Node> JournalDb::children(Ino parent) {
  std::vector<Node> out;
  for (auto& st = s_->children.bind(1, static_cast<int64_t>(parent)); st.step();) out.push_back(readNode(st));
  return out;
}

std::vector<Node> JournalDb::subtree(Ino ino) {
  std::vector<Node> out;
  for (auto& st = s_->subtree.bind(1, static_cast<int64_t>(ino)); st.step();) out.push_back(readNode(st));
  return out;
}

Ino JournalDb::put(const Node& n) {
  auto& st = s_->put;
  if (n.ino == 0) {
    st.bindNull(1);
  } else {
    st.bind(1, static_cast<int64_t>(n.ino));
  }
  st.bindBlob(2, n.identifier);
  if (n.parent == 0) {
    st.bindNull(3);
  } else {
    st.bind(3, static_cast<int64_t>(n.parent));
  }
  st.bindBlob(4, n.name)
      .bind(5, n.folder ? 1 : 0)
      .bind(6, n.size)
      .bind(7, n.mtimeNs)
      .bindBlob(8, n.version.contentVersion)
      .bindBlob(9, n.version.metadataVersion)
      .bind(10, n.materialised ? 1 : 0)
      .bind(11, n.listed ? 1 : 0)
      .bind(12, n.dirty)
      .bind(13, n.local ? 1 : 0)
      .bind(14, static_cast<int64_t>(n.policy))
      .run();
  return n.ino == 0 ? static_cast<Ino>(db_.lastInsertRowId()) : n.ino;
}

void JournalDb::erase(Ino ino) { s_->erase.bind(1, static_cast<int64_t>(ino)).run(); }

int64_t JournalDb::count() {
  int64_t n = 0;
  while (s_->count.step()) n = s_->count.integer(0);
  return n;
}

std::vector<Node> JournalDb::unsent() {
  std::vector<Node> out;
  while (s_->unsent.step()) out.push_back(readNode(s_->unsent));
  return out;
}

std::vector<Ino> JournalDb::materialisedFiles() {
  std::vector<Ino> out;
  while (s_->materialisedFiles.step()) out.push_back(static_cast<Ino>(s_->materialisedFiles.integer(0)));
  return out;
}

int64_t JournalDb::pinnedBytes() {
  int64_t n = 0;
  while (s_->pinnedBytes.step()) n = s_->pinnedBytes.integer(0);
  return n;
}

std::string JournalDb::meta(const std::string& key) {
  std::string value;
  for (auto& st = s_->meta.bind(1, key); st.step();) value = st.text(0);
  return value;
}

void JournalDb::setMeta(const std::string& key, const std::string& value) {
  s_->setMeta.bind(1, key).bindBlob(2, value).run();
}

int64_t JournalDb::addOp(const Op& op) {
  s_->addOp.bind(1, static_cast<int64_t>(op.ino))
      .bind(2, op.kind)
      .bindBlob(3, op.identifier)
      .bindBlob(4, op.baseVersion)
      .bind(5, op.due)
      .bind(6, static_cast<int64_t>(op.item))
      .run();
  return db_.lastInsertRowId();
}

std::vector<Op> JournalDb::ops() {
  std::vector<Op> out;
  while (s_->ops.step()) out.push_back(readOp(s_->ops));
  return out;
}

void JournalDb::forEachOp(const std::function<bool(const Op&)>& visit) {
  while (s_->ops.step()) {
    if (!visit(readOp(s_->ops))) {
      s_->ops.stop();
      return;
    }
  }
}

std::vector<Op> JournalDb::opsOf(Ino ino) {
  std::vector<Op> out;
  for (auto& st = s_->opsOf.bind(1, static_cast<int64_t>(ino)); st.step();) out.push_back(readOp(st));
  return out;
}

void JournalDb::eraseOp(int64_t seq) { s_->eraseOp.bind(1, seq).run(); }

void JournalDb::setDue(int64_t seq, int64_t due) { s_->setDue.bind(1, seq).bind(2, due).run(); }

bool JournalDb::deletionPending(const platform::ItemIdentifier& identifier) {
  bool found = false;
  for (auto& st = s_->deletion.bindBlob(1, identifier); st.step();) found = true;
  return found;
}

}  // namespace davfp::mount
