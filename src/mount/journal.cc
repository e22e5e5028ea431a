#include "mount/journal.h"

#include <chrono>
#include <set>

#include "platform/mime_registry.h"

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
  listed INTEGER NOT NULL DEFAULT 0);
CREATE INDEX IF NOT EXISTS items_by_name ON items(parent, name);
CREATE TABLE IF NOT EXISTS meta(key TEXT PRIMARY KEY, value BLOB NOT NULL);
)";

constexpr const char* kColumns =
    "ino, identifier, parent, name, folder, size, mtime, content_version, metadata_version, materialised, "
    "listed";

int64_t nanoseconds(const std::optional<platform::Date>& date) {
  if (!date) return 0;
  return std::chrono::duration_cast<std::chrono::nanoseconds>(date->time_since_epoch()).count();
}

bool isFolder(const platform::ItemProtocol& item) { return item.contentType() == platform::kFolderType; }

// The tables, and the root, made when the journal is new.
bool makeSchema(SqliteDb& db) {
  db.exec(kSchema);
  Statement root(
      db, "INSERT OR IGNORE INTO items(ino, identifier, parent, name, folder) VALUES(?1, ?2, NULL, '', 1)");
  root.bind(1, static_cast<int64_t>(kRootIno)).bindBlob(2, platform::kRootContainerItemIdentifier).run();
  return true;
}

}  // namespace

struct Journal::Impl {
  explicit Impl(const std::string& path) : db(path) {}

  static Node read(const Statement& s) {
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
    return n;
  }

  std::optional<Node> one(Statement& s) {
    if (!s.step()) return std::nullopt;
    Node n = read(s);
    while (s.step()) {
    }
    return n;
  }

  std::optional<Node> byIdentifier(const platform::ItemIdentifier& id) {
    return one(selectByIdentifier.bindBlob(1, id));
  }

  // Removes the item and everything below it; materialised files among them become stale.
  void forget(const Node& node, Effects& effects) {
    forgetSelect.bind(1, static_cast<int64_t>(node.ino));
    std::vector<Ino> gone;
    while (forgetSelect.step()) {
      gone.push_back(forgetSelect.integer(0));
      if (forgetSelect.integer(1)) effects.stale.push_back(forgetSelect.integer(0));
    }
    for (Ino ino : gone) deleteRow.bind(1, static_cast<int64_t>(ino)).run();
    effects.names.emplace_back(node.parent, node.name);
    effects.changed.push_back(node.ino);
  }

  // Writes what the item says into the row of ino (new or known) under parent.
  void write(Ino parent, const platform::ItemProtocol& item, const std::optional<Node>& known,
             Effects& effects) {
    const platform::ItemVersion version = item.itemVersion();
    const bool folder = isFolder(item);
    bool materialised = known && known->materialised;
    if (known) {
      if (known->parent != parent || known->name != item.filename()) {
        effects.names.emplace_back(known->parent, known->name);
        effects.names.emplace_back(parent, item.filename());
      }
      if (materialised && known->version.contentVersion != version.contentVersion) {
        materialised = false;
        effects.stale.push_back(known->ino);
      }
      const bool same = known->parent == parent && known->name == item.filename() &&
                        known->folder == folder && known->size == item.documentSize().value_or(0) &&
                        known->mtimeNs == nanoseconds(item.contentModificationDate()) &&
                        known->version == version;
      if (same) return;
      effects.changed.push_back(known->ino);
      update.bind(1, static_cast<int64_t>(known->ino));
    } else {
      effects.names.emplace_back(parent, item.filename());
      update.bindNull(1);
    }
    update.bindBlob(2, item.itemIdentifier())
        .bind(3, static_cast<int64_t>(parent))
        .bindBlob(4, item.filename())
        .bind(5, folder ? 1 : 0)
        .bind(6, item.documentSize().value_or(0))
        .bind(7, nanoseconds(item.contentModificationDate()))
        .bindBlob(8, version.contentVersion)
        .bindBlob(9, version.metadataVersion)
        .bind(10, materialised ? 1 : 0)
        .bind(11, known && known->listed && folder ? 1 : 0)
        .run();
  }

  SqliteDb db;
  const bool made = makeSchema(db);  // before the statements are prepared against the tables
  Statement selectByIno{db, std::string("SELECT ") + kColumns + " FROM items WHERE ino = ?1"};
  Statement selectByIdentifier{db, std::string("SELECT ") + kColumns + " FROM items WHERE identifier = ?1"};
  Statement selectChild{db,
                        std::string("SELECT ") + kColumns + " FROM items WHERE parent = ?1 AND name = ?2"};
  Statement selectChildren{db,
                           std::string("SELECT ") + kColumns + " FROM items WHERE parent = ?1 ORDER BY name"};
  Statement forgetSelect{
      db,
      "WITH RECURSIVE below(ino) AS (SELECT ?1 UNION ALL SELECT items.ino FROM items JOIN below "
      "ON items.parent = below.ino) SELECT items.ino, items.materialised FROM items JOIN below "
      "ON items.ino = below.ino"};
  Statement deleteRow{db, "DELETE FROM items WHERE ino = ?1"};
  Statement update{
      db,
      "INSERT OR REPLACE INTO items(ino, identifier, parent, name, folder, size, mtime, "
      "content_version, metadata_version, materialised, listed) VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, "
      "?9, ?10, ?11)"};
  Statement markListed{db, "UPDATE items SET listed = 1 WHERE ino = ?1"};
  Statement markMaterialised{db,
                             "UPDATE items SET materialised = 1, size = ?2, content_version = ?3, "
                             "metadata_version = ?4 WHERE ino = ?1"};
  Statement selectMeta{db, "SELECT value FROM meta WHERE key = ?1"};
  Statement writeMeta{db, "INSERT OR REPLACE INTO meta(key, value) VALUES(?1, ?2)"};
  Statement countItems{db, "SELECT count(*) FROM items"};
};

Journal::Journal(const std::string& path) : impl_(std::make_unique<Impl>(path)) {}

Journal::~Journal() = default;

std::optional<Node> Journal::node(Ino ino) {
  platform::MutexLock lock(mu_);
  return impl_->one(impl_->selectByIno.bind(1, static_cast<int64_t>(ino)));
}

std::optional<Node> Journal::child(Ino parent, const std::string& name) {
  platform::MutexLock lock(mu_);
  return impl_->one(impl_->selectChild.bind(1, static_cast<int64_t>(parent)).bindBlob(2, name));
}

std::vector<Node> Journal::children(Ino parent) {
  platform::MutexLock lock(mu_);
  std::vector<Node> out;
  auto& s = impl_->selectChildren.bind(1, static_cast<int64_t>(parent));
  while (s.step()) out.push_back(Impl::read(s));
  return out;
}

Journal::Effects Journal::applyListing(Ino folder, const std::vector<platform::ItemRef>& items) {
  platform::MutexLock lock(mu_);
  Impl& d = *impl_;
  Effects effects;
  Transaction tx(d.db);
  std::set<platform::ItemIdentifier> listed;
  for (const auto& item : items) listed.insert(item->itemIdentifier());
  std::vector<Node> before;
  for (auto& s = d.selectChildren.bind(1, static_cast<int64_t>(folder)); s.step();)
    before.push_back(Impl::read(s));
  for (const auto& child : before) {
    if (!listed.count(child.identifier)) d.forget(child, effects);
  }
  for (const auto& item : items) d.write(folder, *item, d.byIdentifier(item->itemIdentifier()), effects);
  d.markListed.bind(1, static_cast<int64_t>(folder)).run();
  tx.commit();
  return effects;
}

Journal::Effects Journal::applyChanges(const std::vector<platform::ItemRef>& updated,
                                       const std::vector<platform::ItemIdentifier>& deleted,
                                       const platform::SyncAnchor& anchor) {
  platform::MutexLock lock(mu_);
  Impl& d = *impl_;
  Effects effects;
  Transaction tx(d.db);
  for (const auto& id : deleted) {
    if (id == platform::kRootContainerItemIdentifier) continue;
    if (auto known = d.byIdentifier(id)) d.forget(*known, effects);
  }
  for (const auto& item : updated) {
    if (item->itemIdentifier() == platform::kRootContainerItemIdentifier) continue;
    auto known = d.byIdentifier(item->itemIdentifier());
    auto parent = d.byIdentifier(item->parentItemIdentifier());
    if (!parent || !parent->listed) {
      // Its new folder is not known or not listed yet: the listing of that folder brings it when asked for.
      if (known) d.forget(*known, effects);
      continue;
    }
    d.write(parent->ino, *item, known, effects);
  }
  d.writeMeta.bind(1, std::string_view("anchor")).bindBlob(2, anchor).run();
  tx.commit();
  return effects;
}

void Journal::setMaterialised(Ino ino, const platform::ItemProtocol& item) {
  platform::MutexLock lock(mu_);
  const auto version = item.itemVersion();
  impl_->markMaterialised.bind(1, static_cast<int64_t>(ino))
      .bind(2, item.documentSize().value_or(0))
      .bindBlob(3, version.contentVersion)
      .bindBlob(4, version.metadataVersion)
      .run();
}

platform::SyncAnchor Journal::anchor() {
  platform::MutexLock lock(mu_);
  auto& s = impl_->selectMeta.bind(1, std::string_view("anchor"));
  if (!s.step()) return {};
  std::string value = s.text(0);
  while (s.step()) {
  }
  return value;
}

int64_t Journal::count() {
  platform::MutexLock lock(mu_);
  auto& s = impl_->countItems;
  s.step();
  int64_t n = s.integer(0);
  while (s.step()) {
  }
  return n;
}

}  // namespace davfp::mount
