// The mount's journal and outbox: what the server says is applied without ever taking local work that is not
// sent yet (created items, pending deletions and moves, unsent contents), a file changed on both sides keeps
// both versions, local changes are handed to the sender in an order the server can follow, and a journal
// of an older version opens with everything in it.
#include "mount/journal.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "client/template_item.h"
#include "mount/conflict_name.h"
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

// The sender's next entry, one at a time.
std::optional<Op> nextOf(Outbox& outbox, int64_t& wake) {
  auto found = outbox.next(1, wake);
  if (found.empty()) return std::nullopt;
  return found.front();
}

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
    while (auto op = nextOf(outbox, wake)) sent.push_back(settle(*op));
    return sent;
  }
  // The sender's next entry, which the test expects there to be (none fails the test with an exception).
  Op take(Outbox* from = nullptr) { return nextOf(from ? *from : outbox, wake).value(); }
  // Settles the entry as done, as the server would answer; returns its kind and item.
  std::string settle(const Op& op) {
    auto node = journal.node(op.ino);
    ItemRef answer = node ? serverItem("srv-" + node->name, kRoot, node->name, "s1", node->folder) : nullptr;
    outbox.done(op, answer, node ? node->dirty : 0, node ? node->identifier : "");
    return op.kind + " " + (node ? node->name : op.identifier);
  }

  testing::TempDir dir;
  JournalDb db{dir.file("journal.db")};
  int64_t nowMs = 1'000'000;
  Journal journal{db, [] { return std::time_t(1'800'000'000); }};
  Outbox outbox{db, [this] { return nowMs; }, [] { return std::time_t(1'800'000'000); }};
  int64_t wake = 0;  // the last look's time to look again
};

TEST_F(JournalTest, WhatIsNotSentYetOutlivesWhatTheServerSays) {
  const std::vector<ItemRef> listed = {serverItem("gone", "docs", "gone.txt"), serverItem("moved", "docs", "moved.txt"),
                                       serverItem("kept", "docs", "kept.txt")};
  journal.applyListing(docs(), listed);
  outbox.create(docs(), "new.txt", false);
  outbox.remove(ino(docs(), "gone.txt"));
  outbox.rename(ino(docs(), "moved.txt"), kRootIno, "moved.txt", false);

  // The server has not seen any of it: its listing still shows gone.txt and moved.txt where they were.
  journal.applyListing(docs(), listed);
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
  EXPECT_EQ(journal.node(local)->name, kept);
  auto theirs = journal.child(docs(), "report.txt");
  ASSERT_TRUE(theirs);
  EXPECT_EQ(theirs->version.contentVersion, "v2");
  EXPECT_FALSE(theirs->materialised);
  EXPECT_EQ(sendAll(), (std::vector<std::string>{"create " + kept}));

  // Deleted on the server while changed here: the local version is created again.
  journal.applyListing(docs(), {serverItem("g", "docs", "draft.txt")});
  const Ino draft = ino(docs(), "draft.txt");
  outbox.changed(draft);
  journal.applyChanges({}, {"g"}, "3");
  EXPECT_EQ(sendAll(), (std::vector<std::string>{"create draft.txt"}));

  // The change pass splits the file while its contents are on the way, and then the sender meets the
  // server's version too: one conflict copy, created once.
  journal.applyListing(docs(), {serverItem("h", "docs", "both.txt", "v1")});
  const Ino both = ino(docs(), "both.txt");
  journal.setMaterialised(both, *serverItem("h", "docs", "both.txt", "v1"));
  outbox.changed(both);
  outbox.closed(both, 0);
  Op contents = take();
  journal.applyChanges({serverItem("h", "docs", "both.txt", "v2")}, {}, "4");
  outbox.conflict(contents, *serverItem("h", "docs", "both.txt", "v2"), "h");
  const std::string bothKept = conflictName("both.txt", 1'800'000'000);
  EXPECT_EQ(journal.node(both)->name, bothKept);
  EXPECT_EQ(sendAll(), (std::vector<std::string>{"create " + bothKept}));
}

TEST_F(JournalTest, TheOutboxSendsInAnOrderTheServerCanFollow) {
  journal.applyListing(docs(), {serverItem("old", "docs", "old.txt", "o1")});
  // An editor's save: a new file written, then renamed over the old one.
  Node tmp = outbox.create(docs(), ".old.txt.swp", false);
  EXPECT_FALSE(nextOf(outbox, wake)) << "a file still open for writing is not sent";
  outbox.closed(tmp.ino, 1000);
  EXPECT_FALSE(nextOf(outbox, wake)) << "nor before the quiet time";
  EXPECT_EQ(wake, nowMs + 1000);
  outbox.rename(tmp.ino, docs(), "old.txt", true);
  nowMs += 1000;
  Op deletion = take();
  EXPECT_EQ(deletion.kind + " " + deletion.identifier + " " + deletion.baseVersion, "delete old o1");
  outbox.done(deletion, nullptr, 0, {});
  EXPECT_EQ(sendAll(), (std::vector<std::string>{"create old.txt"}));

  // A folder made and filled, then renamed: its creation goes first, under its latest name.
  Node made = outbox.create(docs(), "made", true);
  Node inside = outbox.create(made.ino, "f.txt", false);
  outbox.closed(inside.ino, 0);
  outbox.rename(made.ino, kRootIno, "renamed", false);
  EXPECT_EQ(sendAll(), (std::vector<std::string>{"create renamed", "create f.txt"}));

  // One look hands out side by side what can go side by side: a folder and a file beside it, not the file
  // in it.
  Node folder = outbox.create(docs(), "new", true), in = outbox.create(folder.ino, "in.txt", false);
  Node beside = outbox.create(docs(), "beside.txt", false);
  for (Ino written : {in.ino, beside.ino}) outbox.closed(written, 0);
  std::vector<std::string> batch;
  for (const Op& op : outbox.next(16, wake)) batch.push_back(settle(op));
  EXPECT_EQ(batch, (std::vector<std::string>{"create new", "create beside.txt"}));
  EXPECT_EQ(sendAll(), (std::vector<std::string>{"create in.txt"}));

  // Made and removed before it was sent: nothing goes to the server.
  Node brief = outbox.create(docs(), "brief.txt", false);
  outbox.closed(brief.ino, 0);
  outbox.remove(brief.ino);
  EXPECT_EQ(outbox.pending(), 0);

  // A file whose folder's creation is on the way waits for that answer, not for its own time.
  Node slow = outbox.create(docs(), "slow", true), late = outbox.create(slow.ino, "late.txt", false);
  outbox.closed(late.ino, 1000);
  Op creation = take();
  EXPECT_FALSE(nextOf(outbox, wake));
  EXPECT_EQ(wake, kNotDue) << "no look at the queue when it is due: it could not go then";
  settle(creation);
  EXPECT_FALSE(nextOf(outbox, wake));
  EXPECT_EQ(wake, nowMs + 1000);
}

// rm -r of two folders: the files' deletions go side by side, and each folder's as soon as what was in it is
// gone from the server, not after everything queued before it.
TEST_F(JournalTest, EachFolderIsDeletedAfterItsOwnContents) {
  journal.applyListing(docs(), {serverItem("a", "docs", "a", "a1", true), serverItem("b", "docs", "b", "b1", true)});
  for (std::string name : {"a", "b"}) {
    journal.applyListing(ino(docs(), name), {serverItem(name + ".txt", name, "f.txt")});
    outbox.remove(ino(ino(docs(), name), "f.txt"));
    outbox.remove(ino(docs(), name));
  }
  std::vector<Op> files = outbox.next(16, wake);
  ASSERT_EQ(files.size(), 2u) << "the files side by side, neither folder";
  settle(files[0]);
  EXPECT_EQ(take().identifier, "a") << "while b's file is on its way";
  EXPECT_FALSE(nextOf(outbox, wake)) << "b holds its file until its deletion is answered";
  settle(files[1]);
  EXPECT_EQ(take().identifier, "b");
}

// A file moved out of a folder, the folder removed, and the file renamed where it went: the rename moves the
// file's queued move behind the folder's deletion, which the server refuses while the file is still in the
// folder there. The deletion goes again after the move, and is dropped only when no move could empty it.
TEST_F(JournalTest, AFolderRefusedAsNotEmptyGoesAgainAfterTheMovesBehindIt) {
  journal.applyListing(docs(), {serverItem("F", "docs", "F", "f1", true), serverItem("G", "docs", "G", "g1", true),
                                serverItem("H", "docs", "H", "h1", true), serverItem("I", "docs", "I", "i1", true)});
  journal.applyListing(ino(docs(), "F"), {serverItem("y", "F", "y.txt")});
  const Ino y = ino(ino(docs(), "F"), "y.txt");
  outbox.rename(y, ino(docs(), "G"), "y.txt", false);
  outbox.remove(ino(docs(), "F"));
  outbox.rename(y, ino(docs(), "G"), "z.txt", false);
  EXPECT_TRUE(outbox.retryAfterMoves(take())) << "refused: y is still in F on the server";
  EXPECT_EQ(settle(take()), "move z.txt");
  EXPECT_EQ(settle(take()), "delete-folder docs") << "F's, from docs";
  // Refused with only another deletion behind it: nothing can empty it, so it is dropped.
  outbox.remove(ino(docs(), "H"));
  outbox.remove(ino(docs(), "I"));
  EXPECT_FALSE(outbox.retryAfterMoves(take())) << "the folder holds what the user never saw";
}

// Open for writing since before its upload (counted as changed once, at the open), written and closed while
// the upload is on its way: the answer leaves it to be sent again.
TEST_F(JournalTest, AFileClosedWhileItsUploadIsOnTheWayIsSentAgain) {
  Node file = outbox.create(docs(), "f.txt", false);
  outbox.closed(file.ino, 0);
  Op create = take();
  const int64_t sent = journal.node(file.ino)->dirty;
  outbox.closed(file.ino, 0);
  outbox.done(create, serverItem("srv", "docs", "f.txt", "s1"), sent, file.identifier);
  EXPECT_NE(journal.node(file.ino)->dirty, 0) << "the writes before the close are lost";
  EXPECT_TRUE(nextOf(outbox, wake)) << "nothing sends them";
}

TEST_F(JournalTest, AnswersLandOnTheItemAsItIsNow) {
  // Renamed, then written: the rename goes first, and its answer does not count the contents as sent.
  journal.applyListing(docs(), {serverItem("m", "docs", "notes.txt", "n1")});
  const Ino notes = ino(docs(), "notes.txt");
  outbox.rename(notes, docs(), "renamed.txt", false);
  outbox.changed(notes);
  outbox.closed(notes, 0);
  Op move = take();
  ASSERT_EQ(move.kind, "move");
  outbox.done(move, serverItem("m", "docs", "renamed.txt", "n1"), journal.node(notes)->dirty, "m");
  EXPECT_NE(journal.node(notes)->dirty, 0) << "the new contents are never sent";
  EXPECT_EQ(sendAll(), (std::vector<std::string>{"contents renamed.txt"}));

  // Renamed while its creation is on the way: created once, then moved to its new name.
  Node draft = outbox.create(docs(), "draft.txt", false);
  outbox.closed(draft.ino, 0);
  Op creation = take();
  outbox.rename(draft.ino, docs(), "final.txt", false);
  EXPECT_FALSE(nextOf(outbox, wake)) << "sent again while it is on the way";
  outbox.done(creation, serverItem("d", "docs", "draft.txt", "d1"), 1, draft.identifier);
  EXPECT_EQ(sendAll(), (std::vector<std::string>{"move final.txt"}));

  Node file = outbox.create(docs(), "f.txt", false);
  outbox.closed(file.ino, 0);
  Op create = take();
  const int64_t sentDirty = journal.node(file.ino)->dirty;
  outbox.changed(file.ino);  // written again while the creation was on its way
  outbox.done(create, serverItem("srv", "docs", "f.txt", "s1"), sentDirty, file.identifier);
  auto now = journal.node(file.ino);
  EXPECT_EQ(now->identifier, "srv");
  EXPECT_FALSE(now->local);
  EXPECT_NE(now->dirty, 0) << "the later writes are still to be sent";

  // Deleted here while its creation was on its way: what the server made is deleted there too.
  Node gone = outbox.create(docs(), "gone.txt", false);
  outbox.closed(gone.ino, 0);
  outbox.closed(file.ino, 0);
  Op second = take();
  ASSERT_EQ(second.ino, gone.ino);
  outbox.remove(gone.ino);
  outbox.done(second, serverItem("srv-gone", "docs", "gone.txt", "g1"), 1, gone.identifier);
  platform::MutexLock lock(db.mu);
  auto ops = db.ops();
  EXPECT_TRUE(std::any_of(ops.begin(), ops.end(), [](const auto& op) {
    return op.kind == "delete" && op.identifier == "srv-gone" && op.baseVersion == "g1";
  }));
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
  for (const Case& c :
       {Case{"killed", false, "boot-1", false}, Case{"ended, rebooted", true, "boot-2", false},
        Case{"machine went down", false, "boot-2", true}}) {
    SCOPED_TRACE(c.how);
    testing::TempDir other;
    JournalDb db2{other.file("journal.db")};
    Journal journal2{db2, [] { return std::time_t(1'800'000'000); }};
    auto outboxOf = [&] {
      return Outbox{db2, [this] { return nowMs; }, [] { return std::time_t(1'800'000'000); }};
    };
    Outbox before = outboxOf();
    journal2.applyListing(kRootIno, {serverItem("w", kRoot, "written.txt")});
    const Ino w = journal2.child(kRootIno, "written.txt")->ino;
    before.started("boot-1");
    before.changed(w);
    before.closed(w, 0);
    if (c.orderlyEnd) before.ended();
    Outbox restarted = outboxOf();
    restarted.started(c.nextBoot);
    Op op = take(&restarted);
    EXPECT_EQ(restarted.inDoubt(op), c.inDoubt);
    restarted.retry(op);
    restarted.started(c.nextBoot);  // a later restart in the same boot keeps the doubt
    op = take(&restarted);
    EXPECT_EQ(restarted.inDoubt(op), c.inDoubt);
    restarted.done(op, serverItem("w", kRoot, "written.txt", "s2"), 1, "w");
    restarted.changed(w);  // written after the restart: sent as usual
    restarted.closed(w, 0);
    EXPECT_FALSE(restarted.inDoubt(take(&restarted)));
  }
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
  EXPECT_EQ(f->dirty, 3);
  EXPECT_EQ(f->policy, Policy::inherited);
  EXPECT_EQ(journal.anchor(), "42");
  journal.setPolicy(f->ino, Policy::pinned);
  EXPECT_TRUE(journal.pinned(f->ino));
  platform::MutexLock lock(db.mu);
  EXPECT_EQ(db.ops().at(0).item, 0u) << "kept, queued before entries named their item";
}

}  // namespace
}  // namespace davfp::mount
