// The mount's journal and outbox: what the server says is applied without ever taking local work that is not
// sent yet (created items, pending deletions and moves, unsent contents), a file changed on both sides keeps
// both versions, local changes are handed to the sender in an order the server can follow, and policies
// decide what may be evicted.
#include "mount/journal.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "client/template_item.h"
#include "mount/conflict_name.h"
#include "mount/fs_error.h"
#include "mount/journal_db.h"
#include "mount/outbox.h"
#include "mount/sqlite_db.h"
#include "platform/mime_registry.h"
#include "support/temp_dir.h"

namespace davfp::mount {
namespace {

using client::TemplateItem;
using platform::ItemRef;

ItemRef serverItem(const std::string& id, const std::string& parent, const std::string& name,
                   const std::string& version = "v1", bool folder = false) {
  TemplateItem::Properties p{
      .identifier = id, .parent = parent, .filename = name, .version = {version, version}};
  if (folder) p.contentType = std::string(platform::kFolderType);
  p.documentSize = folder ? 0 : 100;
  return std::make_shared<TemplateItem>(p);
}

const std::string kRoot = platform::kRootContainerItemIdentifier;

class JournalTest : public ::testing::Test {
 protected:
  JournalTest() { journal.applyListing(kRootIno, {serverItem("docs", kRoot, "docs", "d1", true)}); }

  Ino ino(Ino parent, const std::string& name) {
    auto node = journal.child(parent, name);
    return node ? node->ino : 0;
  }
  Ino docs() { return ino(kRootIno, "docs"); }
  std::vector<std::string> names(Ino folder) {
    std::vector<std::string> out;
    for (const auto& n : journal.children(folder)) out.push_back(n.name);
    return out;
  }
  // The kinds of the entries the sender gets, in order, each settled as done as the server would answer.
  std::vector<std::string> sendAll() {
    std::vector<std::string> sent;
    int64_t wake = 0;
    while (auto op = outbox.next(wake)) {
      auto node = journal.node(op->ino);
      sent.push_back(op->kind + " " + (node ? node->name : op->identifier));
      ItemRef answer =
          node ? serverItem("srv-" + node->name, kRoot, node->name, "s1", node->folder) : nullptr;
      outbox.done(*op, answer, node ? node->dirty : 0, node ? node->identifier : "");
    }
    return sent;
  }

  testing::TempDir dir;
  JournalDb db{dir.file("journal.db")};
  int64_t nowMs = 1'000'000;
  Journal journal{db, [] { return std::time_t(1'800'000'000); }};
  Outbox outbox{db, [this] { return nowMs; }, [] { return std::time_t(1'800'000'000); }};
};

TEST_F(JournalTest, ListingsKeepInodesAcrossMovesAndForgetWhatIsGone) {
  journal.applyListing(docs(),
                       {serverItem("a", "docs", "a.txt"), serverItem("sub", "docs", "sub", "s1", true)});
  const Ino a = ino(docs(), "a.txt");
  const Ino sub = ino(docs(), "sub");
  Effects first = journal.applyListing(sub, {serverItem("deep", "sub", "deep.txt")});
  EXPECT_TRUE(first.names.empty()) << "the kernel knows no name of a folder before its first listing";
  journal.setMaterialised(ino(sub, "deep.txt"), *serverItem("deep", "sub", "deep.txt"));

  // a.txt moved to the root; sub went with everything in it.
  journal.applyListing(kRootIno,
                       {serverItem("docs", kRoot, "docs", "d1", true), serverItem("a", kRoot, "a.txt")});
  Effects gone = journal.applyListing(docs(), {serverItem("new", "docs", "new.txt")});
  EXPECT_EQ(gone.names.size(), 2u) << "sub went, new.txt came: the kernel forgets what it cached of both";
  EXPECT_EQ(ino(kRootIno, "a.txt"), a);
  EXPECT_FALSE(journal.node(sub));
  EXPECT_EQ(gone.stale.size(), 1u) << "the fetched copy below the forgotten folder is dropped";
  EXPECT_EQ(names(kRootIno), (std::vector<std::string>{"a.txt", "docs"}));
}

TEST_F(JournalTest, WhatIsNotSentYetOutlivesWhatTheServerSays) {
  journal.applyListing(docs(),
                       {serverItem("gone", "docs", "gone.txt"), serverItem("moved", "docs", "moved.txt"),
                        serverItem("kept", "docs", "kept.txt")});
  outbox.create(docs(), "new.txt", false);
  outbox.remove(ino(docs(), "gone.txt"));
  outbox.rename(ino(docs(), "moved.txt"), kRootIno, "moved.txt", false);

  // The server has not seen any of it: its listing still shows gone.txt and moved.txt where they were.
  journal.applyListing(docs(),
                       {serverItem("gone", "docs", "gone.txt"), serverItem("moved", "docs", "moved.txt"),
                        serverItem("kept", "docs", "kept.txt")});
  journal.applyChanges(
      {serverItem("gone", "docs", "gone.txt", "v2"), serverItem("moved", "docs", "moved.txt", "v2")}, {},
      "7");
  EXPECT_EQ(names(docs()), (std::vector<std::string>{"kept.txt", "new.txt"}));
  EXPECT_NE(ino(kRootIno, "moved.txt"), 0u);
  EXPECT_EQ(journal.anchor(), "7");

  // Someone else made new.txt on the server meanwhile: ours steps aside, with everything written into it.
  const Ino ours = ino(docs(), "new.txt");
  Effects effects = journal.applyListing(
      docs(), {serverItem("kept", "docs", "kept.txt"), serverItem("theirs", "docs", "new.txt")});
  ASSERT_EQ(effects.conflicts.size(), 1u);
  EXPECT_EQ(journal.node(ours)->name, effects.conflicts[0]);
  EXPECT_TRUE(journal.node(ours)->local);
  EXPECT_EQ(journal.child(docs(), "new.txt")->identifier, "theirs");
}

TEST_F(JournalTest, AFileChangedOnBothSidesKeepsBoth) {
  journal.applyListing(docs(), {serverItem("f", "docs", "report.txt", "v1")});
  const Ino local = ino(docs(), "report.txt");
  journal.setMaterialised(local, *serverItem("f", "docs", "report.txt", "v1"));
  outbox.changed(local);
  outbox.closed(local, 1000);

  Effects effects = journal.applyChanges({serverItem("f", "docs", "report.txt", "v2")}, {}, "2");
  const std::string kept = conflictName("report.txt", 1'800'000'000);
  ASSERT_EQ(effects.conflicts, (std::vector<std::string>{kept}));
  auto mine = journal.node(local);
  ASSERT_TRUE(mine);
  EXPECT_EQ(mine->name, kept);
  EXPECT_TRUE(mine->local && mine->materialised);
  auto theirs = journal.child(docs(), "report.txt");
  ASSERT_TRUE(theirs);
  EXPECT_NE(theirs->ino, local);
  EXPECT_EQ(theirs->version.contentVersion, "v2");
  EXPECT_FALSE(theirs->materialised);
  EXPECT_EQ(sendAll(), (std::vector<std::string>{"create " + kept}));

  // Deleted on the server while changed here: the local version is created again.
  journal.applyListing(docs(), {serverItem("g", "docs", "draft.txt")});
  const Ino draft = ino(docs(), "draft.txt");
  outbox.changed(draft);
  journal.applyChanges({}, {"g"}, "3");
  ASSERT_TRUE(journal.node(draft));
  EXPECT_TRUE(journal.node(draft)->local);
  EXPECT_EQ(sendAll(), (std::vector<std::string>{"create draft.txt"}));
}

TEST_F(JournalTest, TheOutboxSendsInAnOrderTheServerCanFollow) {
  journal.applyListing(docs(), {serverItem("old", "docs", "old.txt", "o1")});
  // An editor's save: a new file written, then renamed over the old one.
  Node tmp = outbox.create(docs(), ".old.txt.swp", false);
  int64_t wake = 0;
  EXPECT_FALSE(outbox.next(wake)) << "a file still open for writing is not sent";
  outbox.closed(tmp.ino, 1000);
  EXPECT_FALSE(outbox.next(wake)) << "nor before the quiet time";
  EXPECT_EQ(wake, nowMs + 1000);
  outbox.rename(tmp.ino, docs(), "old.txt", true);
  nowMs += 1000;
  auto deletion = outbox.next(wake);
  ASSERT_TRUE(deletion);
  EXPECT_EQ(deletion->kind, "delete");
  EXPECT_EQ(deletion->identifier, "old");
  EXPECT_EQ(deletion->baseVersion, "o1") << "the version the deletion is based on";
  outbox.done(*deletion, nullptr, 0, {});
  EXPECT_EQ(sendAll(), (std::vector<std::string>{"create old.txt"}));

  // A folder made and filled, then renamed: its creation goes first, under its latest name.
  Node made = outbox.create(docs(), "made", true);
  Node inside = outbox.create(made.ino, "f.txt", false);
  outbox.closed(inside.ino, 0);
  outbox.rename(made.ino, kRootIno, "renamed", false);
  EXPECT_EQ(sendAll(), (std::vector<std::string>{"create renamed", "create f.txt"}));

  // Made and removed before it was sent: nothing goes to the server.
  Node brief = outbox.create(docs(), "brief.txt", false);
  outbox.closed(brief.ino, 0);
  outbox.remove(brief.ino);
  EXPECT_EQ(outbox.pending(), 0);
}

TEST_F(JournalTest, EntriesGoSideBySideWhereTheServerAllowsIt) {
  journal.applyListing(docs(), {serverItem("sub", "docs", "sub", "s1", true)});
  const Ino sub = ino(docs(), "sub");
  journal.applyListing(sub, {serverItem("a", "sub", "a.txt"), serverItem("b", "sub", "b.txt")});
  // rm -r: the files, then their folder, all before anything is sent.
  outbox.remove(ino(sub, "a.txt"));
  outbox.remove(ino(sub, "b.txt"));
  outbox.remove(sub);
  int64_t wake = 0;
  auto a = outbox.next(wake), b = outbox.next(wake);
  ASSERT_TRUE(a && b);
  EXPECT_EQ(a->identifier + b->identifier, "ab") << "the files' deletions go side by side";
  EXPECT_FALSE(outbox.next(wake)) << "the folder's waits for what was in it";
  outbox.done(*a, nullptr, 0, {});
  outbox.done(*b, nullptr, 0, {});
  auto folder = outbox.next(wake);
  ASSERT_TRUE(folder);
  EXPECT_EQ(folder->identifier + " " + folder->kind, std::string("sub ") + kDeleteFolder);
  outbox.done(*folder, nullptr, 0, {});

  // New files in a known folder go side by side; in a new folder, after the folder's creation.
  Node made = outbox.create(docs(), "made", true);
  Node one = outbox.create(docs(), "one.txt", false), two = outbox.create(made.ino, "two.txt", false);
  outbox.closed(one.ino, 0);
  outbox.closed(two.ino, 0);
  auto first = outbox.next(wake), second = outbox.next(wake);
  ASSERT_TRUE(first && second);
  EXPECT_EQ(std::make_pair(first->ino, second->ino), std::make_pair(made.ino, one.ino));
  EXPECT_FALSE(outbox.next(wake)) << "two.txt waits for its folder";
  outbox.done(*first, serverItem("srv-made", "docs", "made", "m1", true), 0, made.identifier);
  auto third = outbox.next(wake);
  ASSERT_TRUE(third);
  EXPECT_EQ(third->ino, two.ino);
}

TEST_F(JournalTest, AnswersLandOnTheItemAsItIsNow) {
  Node file = outbox.create(docs(), "f.txt", false);
  outbox.closed(file.ino, 0);
  int64_t wake = 0;
  auto create = outbox.next(wake);
  ASSERT_TRUE(create);
  const int64_t sentDirty = journal.node(file.ino)->dirty;
  outbox.changed(file.ino);  // written again while the creation was on its way
  outbox.done(*create, serverItem("srv", "docs", "f.txt", "s1"), sentDirty, file.identifier);
  auto now = journal.node(file.ino);
  EXPECT_EQ(now->identifier, "srv");
  EXPECT_FALSE(now->local);
  EXPECT_NE(now->dirty, 0) << "the later writes are still to be sent";

  // Deleted here while its creation was on its way: what the server made is deleted there too.
  Node gone = outbox.create(docs(), "gone.txt", false);
  outbox.closed(gone.ino, 0);
  outbox.closed(file.ino, 0);
  auto second = outbox.next(wake);
  ASSERT_TRUE(second);
  ASSERT_EQ(second->ino, gone.ino);
  outbox.remove(gone.ino);
  outbox.done(*second, serverItem("srv-gone", "docs", "gone.txt", "g1"), 1, gone.identifier);
  bool deletes = false;
  for (const auto& op : [&] {
         platform::MutexLock lock(db.mu);
         return db.ops();
       }()) {
    deletes = deletes || (op.kind == "delete" && op.identifier == "srv-gone" && op.baseVersion == "g1");
  }
  EXPECT_TRUE(deletes);
}

TEST_F(JournalTest, ARestartMakesEverythingWaitingDue) {
  Node open = outbox.create(docs(), "open.txt", false);  // its program was still writing
  journal.applyListing(docs(), {serverItem("w", "docs", "written.txt"), serverItem("open", "docs", "x")});
  outbox.changed(ino(docs(), "written.txt"));  // written, but the mount ended before the close
  outbox.recover();
  std::vector<std::string> sent = sendAll();
  std::sort(sent.begin(), sent.end());
  EXPECT_EQ(sent, (std::vector<std::string>{"contents written.txt", "create open.txt"}));
  EXPECT_TRUE(journal.node(open.ino));
}

// Contents left unsent by a mount that was running when the machine went down (a new boot, no orderly end)
// are in doubt: their copy may have lost bytes the journal's entry speaks for. A kill, or an orderly end
// before a reboot, leaves nothing in doubt.
TEST_F(JournalTest, ContentsLeftWhenTheMachineWentDownAreInDoubt) {
  struct Case {
    const char* how;
    bool orderlyEnd;
    const char* nextBoot;
    bool inDoubt;
  };
  for (const Case& c : {Case{"killed", false, "boot-1", false}, Case{"ended, rebooted", true, "boot-2", false},
                        Case{"machine went down", false, "boot-2", true}}) {
    SCOPED_TRACE(c.how);
    testing::TempDir other;
    JournalDb db2{other.file("journal.db")};
    Journal journal2{db2, [] { return std::time_t(1'800'000'000); }};
    Outbox outbox2{db2, [this] { return nowMs; }, [] { return std::time_t(1'800'000'000); }};
    journal2.applyListing(kRootIno, {serverItem("w", kRoot, "written.txt")});
    const Ino w = journal2.child(kRootIno, "written.txt")->ino;
    outbox2.started("boot-1");
    outbox2.changed(w);
    outbox2.closed(w, 0);
    if (c.orderlyEnd) outbox2.ended();
    Outbox restarted{db2, [this] { return nowMs; }, [] { return std::time_t(1'800'000'000); }};
    restarted.started(c.nextBoot);
    int64_t wake = 0;
    auto op = restarted.next(wake);
    ASSERT_TRUE(op);
    EXPECT_EQ(restarted.inDoubt(*op), c.inDoubt);
    restarted.retry(*op);
    restarted.started(c.nextBoot);  // a later restart in the same boot keeps the doubt
    op = restarted.next(wake);
    ASSERT_TRUE(op);
    EXPECT_EQ(restarted.inDoubt(*op), c.inDoubt);
    restarted.done(*op, serverItem("w", kRoot, "written.txt", "s2"), 1, "w");
    outbox2.changed(w);  // written after the restart: sent as usual
    outbox2.closed(w, 0);
    op = restarted.next(wake);
    ASSERT_TRUE(op);
    EXPECT_FALSE(restarted.inDoubt(*op));
  }
}

int errnoOf(const std::function<void()>& work) {
  try {
    work();
  } catch (const FsError& e) {
    return e.err();
  }
  return 0;
}

// docs with a.txt, b.txt and sub, sub with c.txt.
class PinningTest : public JournalTest {
 protected:
  PinningTest() {
    journal.applyListing(docs, {serverItem("a", "docs", "a.txt"), serverItem("b", "docs", "b.txt"),
                                serverItem("sub", "docs", "sub", "s1", true)});
    sub = ino(docs, "sub");
    journal.applyListing(sub, {serverItem("c", "sub", "c.txt")});
    a = ino(docs, "a.txt");
    b = ino(docs, "b.txt");
    c = ino(sub, "c.txt");
  }
  Ino docs = JournalTest::docs(), sub = 0, a = 0, b = 0, c = 0;
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
