#include "state/state.h"

#include <gtest/gtest.h>

#include <regex>

#include "platform/file_provider.h"
#include "state_file_check.h"

namespace davfp {
namespace {

using platform::kRootContainerItemIdentifier;
using Snapshots = State::Snapshots;

class StateTest : public ::testing::Test {
 protected:
  std::string id(const std::string& path) { return *seen_.insert(state_.id(path)).first; }
  void expectPersisted() { testing::expectFileMatches(state_, env_, "dom", seen_); }

  testing::TestEnv env_;
  State state_{"dom", env_};
  std::set<std::string> seen_;
};

TEST_F(StateTest, RootIsFixedAndNothingIsWrittenBeforeAChange) {
  EXPECT_EQ(state_.file(), env_.statePath() + "/state-dom.json");
  EXPECT_EQ(state_.id("/"), kRootContainerItemIdentifier);
  EXPECT_EQ(state_.path(kRootContainerItemIdentifier), "/");
  EXPECT_EQ(state_.anchor(), 1);
  EXPECT_TRUE(state_.knownFolders().empty());
  EXPECT_EQ(env_.writes, 0);
  EXPECT_FALSE(testing::fileExists(state_.file()));
}

TEST_F(StateTest, MintsOneIdentifierPerPathAndWritesOnlyThen) {
  const std::regex uuid("[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}");
  std::string a = id("/a");
  EXPECT_TRUE(std::regex_match(a, uuid)) << a;
  EXPECT_EQ(env_.writes, 1);
  EXPECT_EQ(id("/a"), a);
  EXPECT_EQ(env_.writes, 1);
  std::string b = id("/b");
  EXPECT_NE(b, a);
  EXPECT_EQ(id("/caf\u00e9"), id("/cafe\u0301"));  // one item, however its name is composed
  std::string empty = id("");
  EXPECT_EQ(state_.path(empty), "");
  EXPECT_EQ(seen_.size(), 4u);
  EXPECT_EQ(env_.writes, 4);
  EXPECT_EQ(state_.path(b), "/b");
  EXPECT_EQ(state_.path("00000000-0000-0000-0000-000000000000"), std::nullopt);
  EXPECT_EQ(state_.anchor(), 1);
  expectPersisted();
}

TEST_F(StateTest, MoveCarriesIdentifiersAndSnapshotsAlong) {
  std::string a = id("/a"), ax = id("/a/x"), ab = id("/ab");
  state_.remember("/", {{"/a", "A"}, {"/ab", "AB"}, {"/c", "C"}});
  state_.remember("/a", {{"/a/x", "X"}});
  int writes = env_.writes;
  state_.move(a, "/a", "/b");
  EXPECT_EQ(state_.path(a), "/b");
  EXPECT_EQ(state_.path(ax), "/b/x");
  EXPECT_EQ(state_.path(ab), "/ab");
  EXPECT_EQ(id("/b/x"), ax);
  EXPECT_EQ(state_.knownFolders(),
            (Snapshots{{"/", {{"/b", "A"}, {"/ab", "AB"}, {"/c", "C"}}}, {"/b", {{"/b/x", "X"}}}}));
  EXPECT_EQ(state_.anchor(), 2);
  EXPECT_EQ(env_.writes, writes + 1);
  expectPersisted();
}

TEST_F(StateTest, MoveIntoAnotherFolderLeavesTheOldFoldersSnapshot) {
  std::string f = id("/a/f"), d = id("/a/d"), dx = id("/a/d/x");
  state_.remember("/a", {{"/a/f", "F"}, {"/a/d", "D"}, {"/a/g", "G"}});
  state_.remember("/a/d", {{"/a/d/x", "X"}});
  state_.remember("/b", {});
  state_.move(f, "/a/f", "/b/f");
  state_.move(d, "/a/d", "/b/d");
  // Left in /a, the entries would make /a's next listing report the moved items as deleted.
  EXPECT_EQ(state_.knownFolders(),
            (Snapshots{{"/a", {{"/a/g", "G"}}}, {"/b", {}}, {"/b/d", {{"/b/d/x", "X"}}}}));
  EXPECT_EQ(state_.path(f), "/b/f");
  EXPECT_EQ(state_.path(dx), "/b/d/x");
  EXPECT_EQ(state_.anchor(), 3);
  expectPersisted();
}

TEST_F(StateTest, MoveOntoAKnownPathLetsTheMovedItemWin) {
  std::string m = id("/m"), d = id("/d");
  state_.remember("/", {{"/m", "M"}, {"/d", "D"}});
  state_.remember("/m", {{"/m/new", "N"}});
  state_.remember("/d", {{"/d/old", "O"}});
  state_.move(m, "/m", "/d");
  EXPECT_EQ(state_.path(m), "/d");
  EXPECT_EQ(state_.path(d), "/d");
  EXPECT_EQ(id("/d"), m);
  EXPECT_EQ(state_.knownFolders(), (Snapshots{{"/", {{"/d", "M"}}}, {"/d", {{"/d/new", "N"}}}}));
  expectPersisted();
}

TEST_F(StateTest, MoveEdgeCases) {
  std::string cafe = id("/caf\u00e9/x"), a = id("/a"), aa = id("/a/a");
  state_.move("", "/cafe\u0301", "/tea");  // the path spelled decomposed
  EXPECT_EQ(state_.path(cafe), "/tea/x");
  state_.move(a, "/a", "/a/a");  // into itself: the maps stay each other's inverse
  EXPECT_EQ(state_.path(a), "/a/a");
  EXPECT_EQ(state_.path(aa), "/a/a/a");
  EXPECT_EQ(id("/a/a"), a);
  EXPECT_EQ(id("/a/a/a"), aa);
  int writes = env_.writes;
  state_.move("", "/nothing", "/else");  // nothing under it: still a change of the anchor, still saved
  EXPECT_EQ(env_.writes, writes + 1);
  EXPECT_EQ(state_.anchor(), 4);
  expectPersisted();
}

TEST_F(StateTest, ForgetDropsThePathAndEverythingUnderIt) {
  std::string a = id("/a"), ax = id("/a/x"), ab = id("/ab"), cafe = id("/caf\u00e9/y");
  state_.remember("/", {{"/a", "A"}, {"/ab", "AB"}});
  state_.remember("/a", {{"/a/x", "X"}});
  state_.remember("/a/x", {});
  state_.remember("/ab", {});
  state_.forget("/a");
  EXPECT_EQ(state_.path(a), std::nullopt);
  EXPECT_EQ(state_.path(ax), std::nullopt);
  EXPECT_EQ(state_.path(ab), "/ab");
  EXPECT_EQ(state_.knownFolders(), (Snapshots{{"/", {{"/ab", "AB"}}}, {"/ab", {}}}));
  EXPECT_EQ(state_.anchor(), 2);
  state_.forget("/cafe\u0301");
  EXPECT_EQ(state_.path(cafe), std::nullopt);
  int writes = env_.writes;
  state_.forget("/nothing");
  EXPECT_EQ(env_.writes, writes + 1);
  EXPECT_EQ(state_.anchor(), 4);
  EXPECT_NE(id("/a"), a);  // a forgotten path gets a new identifier
  expectPersisted();
}

TEST_F(StateTest, RememberAndNoteChildKeepSnapshots) {
  state_.remember("/f", {{"/f/a", "1"}, {"/f/a", "2"}, {"/f/b", "12-0"}});
  state_.remember("/e", {});
  EXPECT_EQ(state_.knownFolders(), (Snapshots{{"/f", {{"/f/a", "1"}, {"/f/b", "12-0"}}}, {"/e", {}}}));
  EXPECT_EQ(state_.anchor(), 1);
  EXPECT_EQ(env_.writes, 2);
  state_.remember("/f", {{"/f/c", "3"}});
  state_.noteChild("/f/d", "4");
  state_.noteChild("/f/c", "5");
  int writes = env_.writes;
  state_.noteChild("/unknown/x", "6");  // no snapshot is created for an unknown folder
  EXPECT_EQ(env_.writes, writes + 1);
  EXPECT_EQ(state_.knownFolders(), (Snapshots{{"/f", {{"/f/c", "5"}, {"/f/d", "4"}}}, {"/e", {}}}));
  EXPECT_EQ(state_.anchor(), 4);
  expectPersisted();
}

TEST_F(StateTest, BatchIdentifiersWriteOnce) {
  std::string k = id("/k");
  int writes = env_.writes;
  auto got = state_.ids({"/n1", "/", "/k", "/n2", "/n1"});
  seen_.insert(got.begin(), got.end());
  ASSERT_EQ(got.size(), 5u);
  EXPECT_EQ(got[1], kRootContainerItemIdentifier);
  EXPECT_EQ(got[2], k);
  EXPECT_EQ(got[0], got[4]);
  EXPECT_NE(got[0], got[3]);
  EXPECT_EQ(state_.path(got[3]), "/n2");
  EXPECT_EQ(env_.writes, writes + 1);
  state_.ids({"/n1", "/k", "/"});
  EXPECT_EQ(env_.writes, writes + 1);  // nothing minted, nothing written
  expectPersisted();
}

TEST_F(StateTest, CommitAppliesStepsInOrderAndSavesOnceOrNotAtAll) {
  using Kind = State::Step::Kind;
  std::string ax = id("/a/x");
  state_.remember("/", {{"/a", "A"}});
  state_.remember("/a", {{"/a/x", "X"}});
  int writes = env_.writes;
  state_.commit({.steps = {{Kind::forget, "/a", {}},
                           {Kind::remember, "/", {{"/b", "B"}}},
                           {Kind::remember, "/gone", {}},
                           {Kind::forget, "/gone", {}},
                           {Kind::remember, "/new", {}}},
                 .bump = true});
  EXPECT_EQ(state_.path(ax), std::nullopt);
  EXPECT_EQ(state_.knownFolders(), (Snapshots{{"/", {{"/b", "B"}}}, {"/new", {}}}));
  EXPECT_EQ(state_.anchor(), 4);
  EXPECT_EQ(env_.writes, writes + 1);

  state_.commit({.steps = {{Kind::remember, "/", {{"/b", "B"}}}, {Kind::remember, "/new", {}}}});
  state_.commit({});
  EXPECT_EQ(env_.writes, writes + 1);  // every snapshot as it was: nothing to write
  EXPECT_EQ(state_.anchor(), 4);
  state_.commit({.steps = {{Kind::remember, "/", {{"/b", "B2"}}}}});
  EXPECT_EQ(env_.writes, writes + 2);
  EXPECT_EQ(state_.anchor(), 4);
  state_.commit({.bump = true});
  EXPECT_EQ(env_.writes, writes + 3);
  EXPECT_EQ(state_.anchor(), 5);
  expectPersisted();
}

TEST_F(StateTest, CommitMintsAfterItsStepsInTheSameSaveAndExistingIdNeverMints) {
  using Kind = State::Step::Kind;
  std::string a = id("/a");
  int writes = env_.writes;
  EXPECT_EQ(state_.existingId("/a"), a);
  EXPECT_EQ(state_.existingId("/nothing"), std::nullopt);
  EXPECT_EQ(state_.existingId("/"), platform::kRootContainerItemIdentifier);
  EXPECT_EQ(env_.writes, writes);

  auto minted = state_.commit({.steps = {{Kind::forget, "/a", {}}}, .bump = true, .mint = {"/n", "/", "/a"}});
  EXPECT_EQ(env_.writes, writes + 1);
  ASSERT_TRUE(state_.existingId("/n"));
  ASSERT_TRUE(state_.existingId("/a"));
  EXPECT_EQ(minted,
            (std::vector<std::string>{*state_.existingId("/n"), platform::kRootContainerItemIdentifier,
                                      *state_.existingId("/a")}));
  EXPECT_NE(*state_.existingId("/a"), a);  // forgotten first, then minted anew
  seen_.insert(*state_.existingId("/n"));
  seen_.insert(*state_.existingId("/a"));
  EXPECT_EQ(state_.commit({.mint = {"/n"}}), std::vector<std::string>{minted[0]});
  EXPECT_EQ(env_.writes, writes + 1);  // nothing new: nothing to write
  expectPersisted();
}

TEST_F(StateTest, AnchorStaysAtItsLargestValue) {
  state_.setAnchor(INT64_MAX - 1);
  EXPECT_EQ(env_.writes, 0);  // setting it does not save
  state_.bumpAnchor();
  EXPECT_EQ(state_.anchor(), INT64_MAX);
  state_.bumpAnchor();
  state_.noteChild("/x", "1");
  state_.forget("/x");
  state_.move("", "/x", "/y");
  state_.commit({.bump = true});
  EXPECT_EQ(state_.anchor(), INT64_MAX);
  expectPersisted();
  state_.setAnchor(-3);
  state_.bumpAnchor();
  EXPECT_EQ(state_.anchor(), -2);
  expectPersisted();
}

}  // namespace
}  // namespace davfp
