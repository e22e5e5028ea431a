// Policies and eviction in the mount's journal: an item's policy is its own or its nearest folder's, it
// survives what the server says about the item, eviction is refused for anything not held by the server as
// it is here or pinned, and a journal written before items had a policy opens with everything kept.
#include <gtest/gtest.h>

#include "client/template_item.h"
#include "mount/fs_error.h"
#include "mount/journal.h"
#include "mount/journal_db.h"
#include "mount/outbox.h"
#include "mount/sqlite_db.h"
#include "platform/mime_registry.h"
#include "support/temp_dir.h"

namespace davfp::mount {
namespace {

platform::ItemRef serverItem(const std::string& id, const std::string& parent, const std::string& name,
                             const std::string& version = "v1", bool folder = false) {
  client::TemplateItem::Properties p{
      .identifier = id, .parent = parent, .filename = name, .version = {version, version}};
  if (folder) p.contentType = std::string(platform::kFolderType);
  p.documentSize = folder ? 0 : 100;
  return std::make_shared<client::TemplateItem>(p);
}

const std::string kRoot = platform::kRootContainerItemIdentifier;

int errnoOf(const std::function<void()>& work) {
  try {
    work();
  } catch (const FsError& e) {
    return e.err();
  }
  return 0;
}

class PinningTest : public ::testing::Test {
 protected:
  PinningTest() {
    journal.applyListing(kRootIno, {serverItem("docs", kRoot, "docs", "d1", true)});
    docs = journal.child(kRootIno, "docs")->ino;
    journal.applyListing(docs, {serverItem("a", "docs", "a.txt"), serverItem("b", "docs", "b.txt"),
                                serverItem("sub", "docs", "sub", "s1", true)});
    sub = journal.child(docs, "sub")->ino;
    journal.applyListing(sub, {serverItem("c", "sub", "c.txt")});
    a = journal.child(docs, "a.txt")->ino;
    b = journal.child(docs, "b.txt")->ino;
    c = journal.child(sub, "c.txt")->ino;
  }

  testing::TempDir dir;
  JournalDb db{dir.file("journal.db")};
  Journal journal{db};
  Outbox outbox{db, [] { return int64_t{1'000'000}; }, [] { return std::time_t(1'800'000'000); }};
  Ino docs = 0, sub = 0, a = 0, b = 0, c = 0;
};

TEST_F(PinningTest, AFoldersPolicyCoversItsSubtreeAndOutlivesTheServersNews) {
  EXPECT_FALSE(journal.pinned(c)) << "the root inherits unpinned";
  journal.setPolicy(docs, Policy::pinned);
  journal.setPolicy(b, Policy::unpinned);
  EXPECT_TRUE(journal.pinned(a));
  EXPECT_TRUE(journal.pinned(c)) << "two levels down";
  EXPECT_FALSE(journal.pinned(b)) << "its own policy wins";
  {
    platform::MutexLock lock(db.mu);
    EXPECT_EQ(db.pinnedBytes(), 200) << "a.txt and c.txt";
  }

  // A new version, a rename and a move on the server keep the policies.
  journal.applyChanges(
      {serverItem("docs", kRoot, "papers", "d2", true), serverItem("b", "sub", "b2.txt", "v2")}, {}, "1");
  EXPECT_EQ(journal.node(docs)->policy, Policy::pinned);
  EXPECT_EQ(journal.node(b)->policy, Policy::unpinned);
  journal.setPolicy(b, Policy::inherited);
  EXPECT_TRUE(journal.pinned(b)) << "moved under sub, inside the pinned folder";
}

TEST_F(PinningTest, OnlyCleanUnpinnedFilesTheServerHoldsAreEvicted) {
  journal.setMaterialised(a, *serverItem("a", "docs", "a.txt"));
  journal.setMaterialised(b, *serverItem("b", "docs", "b.txt"));
  EXPECT_EQ(journal.state(a), ItemState::materialised);
  EXPECT_EQ(journal.state(c), ItemState::dataless);
  EXPECT_EQ(journal.state(sub), ItemState::materialised) << "a listed folder";

  EXPECT_TRUE(journal.evict(a));
  EXPECT_EQ(journal.state(a), ItemState::dataless);
  EXPECT_FALSE(journal.evict(a)) << "nothing to drop any more";

  outbox.changed(b);  // a program wrote into it
  EXPECT_EQ(journal.state(b), ItemState::pending);
  EXPECT_EQ(errnoOf([&] { journal.evict(b); }), EBUSY);
  EXPECT_TRUE(journal.node(b)->materialised);

  Node created = outbox.create(docs, "new.txt", false);
  EXPECT_EQ(errnoOf([&] { journal.evict(created.ino); }), EBUSY) << "not on the server yet";
  EXPECT_EQ(errnoOf([&] { journal.evict(sub); }), EISDIR);

  journal.setMaterialised(c, *serverItem("c", "sub", "c.txt"));
  journal.setPolicy(docs, Policy::pinned);
  EXPECT_EQ(errnoOf([&] { journal.evict(c); }), EBUSY) << "pinned through its folders";
  EXPECT_EQ(journal.state(c), ItemState::materialised);
}

TEST(JournalMigrationTest, AJournalFromBeforePoliciesOpensWithEverythingKept) {
  testing::TempDir dir;
  const std::string path = dir.file("journal.db");
  {
    // The tables as they were before items had a policy, with an item and a queued change.
    SqliteDb old(path);
    old.exec(R"(
CREATE TABLE items(ino INTEGER PRIMARY KEY AUTOINCREMENT, identifier BLOB NOT NULL UNIQUE, parent INTEGER,
  name BLOB NOT NULL, folder INTEGER NOT NULL, size INTEGER NOT NULL DEFAULT 0, mtime INTEGER NOT NULL DEFAULT 0,
  content_version BLOB NOT NULL DEFAULT x'', metadata_version BLOB NOT NULL DEFAULT x'',
  materialised INTEGER NOT NULL DEFAULT 0, listed INTEGER NOT NULL DEFAULT 0, dirty INTEGER NOT NULL DEFAULT 0,
  local INTEGER NOT NULL DEFAULT 0);
CREATE TABLE ops(seq INTEGER PRIMARY KEY AUTOINCREMENT, ino INTEGER NOT NULL, kind TEXT NOT NULL,
  identifier BLOB NOT NULL DEFAULT x'', base_version BLOB NOT NULL DEFAULT x'', due INTEGER NOT NULL DEFAULT 0);
CREATE TABLE meta(key TEXT PRIMARY KEY, value BLOB NOT NULL);
INSERT INTO items VALUES(1, CAST('NSFileProviderRootContainerItemIdentifier' AS BLOB), NULL, x'', 1, 0, 0, x'',
  x'', 0, 1, 0, 0);
INSERT INTO items VALUES(2, CAST('f' AS BLOB), 1, CAST('f.txt' AS BLOB), 0, 5, 7, CAST('v1' AS BLOB),
  CAST('v1' AS BLOB), 1, 0, 3, 0);
INSERT INTO ops(ino, kind) VALUES(2, 'contents');
INSERT INTO meta VALUES('anchor', '42');
)");
  }
  JournalDb db(path);
  Journal journal(db);
  auto f = journal.child(kRootIno, "f.txt");
  ASSERT_TRUE(f);
  EXPECT_EQ(f->size, 5);
  EXPECT_EQ(f->dirty, 3);
  EXPECT_TRUE(f->materialised);
  EXPECT_EQ(f->policy, Policy::inherited);
  EXPECT_EQ(journal.anchor(), "42");
  EXPECT_EQ(journal.state(f->ino), ItemState::pending);
  journal.setPolicy(f->ino, Policy::pinned);
  EXPECT_TRUE(journal.pinned(f->ino));
  platform::MutexLock lock(db.mu);
  EXPECT_EQ(db.ops().size(), 1u);
}

}  // namespace
}  // namespace davfp::mount
