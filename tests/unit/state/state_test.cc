// The state of one domain: identifiers minted once per path, moves and forgets carrying identifiers and
// snapshots along, one save per change (changes made while a save is written share the next one), and the
// file it saves to, loaded again whatever became of it.
#include "state/state.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <regex>
#include <set>
#include <thread>

#include "platform/file_provider.h"
#include "platform/text.h"
#include "support/test_env.h"

namespace davfp {
namespace {

using platform::kRootContainerItemIdentifier;
using testing::fileExists;
using testing::readFile;
using testing::writeFile;
using Snapshots = State::Snapshots;
using Kind = State::Step::Kind;

// A new State of the same domain loads what state holds. ids: every identifier the test was handed,
// forgotten ones included (they must stay forgotten).
void expectFileMatches(State& state, platform::Env& env, std::string_view domain,
                       const std::set<std::string>& ids) {
  SCOPED_TRACE("state file " + state.file());
  State reloaded(domain, env);
  EXPECT_EQ(reloaded.anchor(), state.anchor());
  EXPECT_EQ(reloaded.knownFolders(), state.knownFolders());
  for (const auto& id : ids) EXPECT_EQ(reloaded.path(id), state.path(id)) << id;
}

class StateTest : public ::testing::Test {
 protected:
  StateTest() { std::filesystem::create_directories(env_.statePath()); }
  std::string id(const std::string& path) { return *seen_.insert(state_.id(path)).first; }
  void expectPersisted() { expectFileMatches(state_, env_, "dom", seen_); }
  std::string file() { return env_.statePath() + "/state-dom.json"; }

  testing::TestEnv env_;
  State state_{"dom", env_};
  std::set<std::string> seen_;
};

TEST_F(StateTest, MintsOneIdentifierPerPathAndWritesOnlyThen) {
  EXPECT_EQ(state_.id("/"), kRootContainerItemIdentifier);
  EXPECT_FALSE(fileExists(file()));  // asking for the root writes nothing

  std::string a = id("/a");
  EXPECT_TRUE(std::regex_match(a, std::regex("[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}"))) << a;
  EXPECT_EQ(id("/a"), a);
  EXPECT_EQ(id("/caf\u00e9"), id("/cafe\u0301"));  // one item, however its name is composed
  EXPECT_EQ(state_.existingId("/nothing"), std::nullopt);

  // A batch mints in one save, the same path once; nothing new, nothing written.
  const int writes = env_.writes;
  auto got = state_.ids({"/n1", "/", "/a", "/n1"});
  seen_.insert(got.begin(), got.end());
  EXPECT_EQ(got, (std::vector<std::string>{got[0], kRootContainerItemIdentifier, a, got[0]}));
  EXPECT_EQ(env_.writes, writes + 1);
  state_.ids({"/n1", "/a", "/"});
  EXPECT_EQ(env_.writes, writes + 1);

  // A commit mints after its steps, in the same save: a forgotten path gets a new identifier.
  auto minted = state_.commit({.steps = {{Kind::forget, "/a", {}}}, .mint = {"/a"}});
  seen_.insert(minted[0]);
  EXPECT_NE(minted[0], a);
  EXPECT_EQ(state_.existingId("/a"), minted[0]);
  EXPECT_EQ(env_.writes, writes + 2);
  expectPersisted();
}

TEST_F(StateTest, MoveCarriesIdentifiersAndSnapshotsAlong) {
  struct Case {
    const char* name;
    Snapshots before;
    std::vector<std::string> paths;  // identified before the move
    std::string from, to;
    Snapshots after;
  } cases[] = {
      // clang-format off
      {"rename", {{"/", {{"/a", "A"}, {"/ab", "AB"}}}, {"/a", {{"/a/x", "X"}}}}, {"/a", "/a/x", "/ab"}, "/a", "/b",
       {{"/", {{"/b", "A"}, {"/ab", "AB"}}}, {"/b", {{"/b/x", "X"}}}}},
      // Left in /a, the entry would make /a's next listing report the moved folder as deleted.
      {"into another folder", {{"/a", {{"/a/f", "F"}, {"/a/d", "D"}}}, {"/a/d", {{"/a/d/x", "X"}}}, {"/b", {}}},
       {"/a/d", "/a/d/x", "/a/f"}, "/a/d", "/b/d", {{"/a", {{"/a/f", "F"}}}, {"/b", {}}, {"/b/d", {{"/b/d/x", "X"}}}}},
      {"onto a known path", {{"/", {{"/m", "M"}, {"/d", "D"}}}, {"/m", {{"/m/new", "N"}}}, {"/d", {{"/d/old", "O"}}}},
       {"/m", "/d"}, "/m", "/d", {{"/", {{"/d", "M"}}}, {"/d", {{"/d/new", "N"}}}}},
      {"spelled decomposed", {}, {"/caf\u00e9/x"}, "/cafe\u0301", "/tea", {}},
      {"into itself", {}, {"/a", "/a/a"}, "/a", "/a/a", {}},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    testing::TestEnv env;
    State state("dom", env);
    std::vector<std::string> ids;
    for (const auto& path : c.paths) ids.push_back(state.id(path));
    for (const auto& [folder, children] : c.before) {
      FolderSnapshot snapshot;
      for (const auto& [path, version] : children) snapshot.add(path, version);
      state.remember(folder, std::move(snapshot));
    }
    const int writes = env.writes;
    const auto anchor = state.anchor();
    const bool byId = c.paths[0] == c.from;

    state.move(byId ? ids[0] : "", c.from, c.to);

    EXPECT_EQ(state.anchor(), anchor + 1);  // a change of the anchor and one save, also when nothing moved
    EXPECT_EQ(env.writes, writes + 1);
    for (size_t i = 0; i < ids.size(); ++i) {
      const std::string path = platform::nfc(c.paths[i]), from = platform::nfc(c.from);
      const bool under = path == from || path.starts_with(from + "/");
      EXPECT_EQ(state.path(ids[i]), under ? c.to + path.substr(from.size()) : c.paths[i]) << path;
    }
    if (byId) {
      EXPECT_EQ(state.id(c.to), ids[0]);
    }
    EXPECT_EQ(state.knownFolders(), c.after);
    expectFileMatches(state, env, "dom", {ids.begin(), ids.end()});
  }
}

TEST_F(StateTest, ForgetDropsThePathAndEverythingUnderIt) {
  std::string a = id("/a"), ax = id("/a/x"), ab = id("/ab"), cafe = id("/caf\u00e9/y");
  state_.remember("/", {{"/a", "A"}, {"/ab", "AB"}});
  state_.remember("/a", {{"/a/x", "X"}});
  state_.remember("/ab", {});
  state_.forget("/a");
  EXPECT_EQ(state_.path(a), std::nullopt);
  EXPECT_EQ(state_.path(ax), std::nullopt);
  EXPECT_EQ(state_.path(ab), "/ab");
  EXPECT_EQ(state_.knownFolders(), (Snapshots{{"/", {{"/ab", "AB"}}}, {"/ab", {}}}));
  state_.forget("/cafe\u0301");
  EXPECT_EQ(state_.path(cafe), std::nullopt);
  EXPECT_NE(id("/a"), a);
  expectPersisted();
}

TEST_F(StateTest, SnapshotsAreRememberedNotedAndCommittedInOneSaveOrNone) {
  state_.remember("/f", {{"/f/a", "1"}, {"/f/a", "2"}, {"/f/c", "3"}});  // the first of equal paths wins
  state_.noteChild("/f/d", "4");
  state_.noteChild("/f/c", "5");
  state_.noteChild("/unknown/x", "6");  // no snapshot is made for a folder never listed
  EXPECT_EQ(state_.knownFolders(), (Snapshots{{"/f", {{"/f/a", "1"}, {"/f/c", "5"}, {"/f/d", "4"}}}}));

  std::string fc = id("/f/c");
  int writes = env_.writes;
  const auto anchor = state_.anchor();
  state_.commit({.steps = {{Kind::forget, "/f", {}},
                           {Kind::remember, "/", {{"/b", "B"}}},
                           {Kind::remember, "/gone", {}},
                           {Kind::forget, "/gone", {}},
                           {Kind::remember, "/new", {}}},
                 .bump = true});
  EXPECT_EQ(state_.path(fc), std::nullopt);
  EXPECT_EQ(state_.knownFolders(), (Snapshots{{"/", {{"/b", "B"}}}, {"/new", {}}}));
  EXPECT_EQ(state_.anchor(), anchor + 3);  // each forget a change, and the bump
  EXPECT_EQ(env_.writes, writes + 1);
  state_.commit({.steps = {{Kind::remember, "/", {{"/b", "B"}}}, {Kind::remember, "/new", {}}}});
  EXPECT_EQ(env_.writes, writes + 1);  // every snapshot as it was: nothing to write
  state_.commit({.steps = {{Kind::remember, "/", {{"/b", "B2"}}}}});
  EXPECT_EQ(env_.writes, writes + 2);
  expectPersisted();
}

TEST_F(StateTest, AnchorStaysAtItsLargestValue) {
  state_.setAnchor(INT64_MAX - 1);
  EXPECT_EQ(env_.writes, 0);  // setting it does not save
  state_.bumpAnchor();
  state_.bumpAnchor();
  state_.noteChild("/x", "1");
  state_.move("", "/x", "/y");
  state_.commit({.bump = true});
  EXPECT_EQ(state_.anchor(), INT64_MAX);
  expectPersisted();
}

TEST_F(StateTest, AnUnusableFileGivesAFreshStateAndStaysUntilTheNextSave) {
  const std::string good = R"({"ids":{"ID1":"/a"},"listed":{"/":{"/a":"v"}},"anchor":9})";
  // Which files are unusable is told with the file's format; here one cut short, and one nested deeper than
  // any reader goes.
  for (const std::string& bytes : {good.substr(0, good.size() / 2), std::string(8 << 20, '[')}) {
    SCOPED_TRACE(bytes.substr(0, 60));
    writeFile(file(), bytes);
    State state("dom", env_);
    EXPECT_EQ(state.anchor(), 1);
    EXPECT_TRUE(state.knownFolders().empty());
    EXPECT_EQ(state.path("ID1"), std::nullopt);
    EXPECT_EQ(readFile(file()), bytes);  // loading never writes
    state.bumpAnchor();
    expectFileMatches(state, env_, "dom", {"ID1"});
  }

  // A good one, whose identifiers may share a path.
  writeFile(file(), R"({"anchor":41,"listed":{"\/":{"\/p":"V"}},"ids":{"ID1":"\/p","ID2":"/p"}})");
  State state("dom", env_);
  EXPECT_EQ(state.anchor(), 41);
  EXPECT_EQ(state.knownFolders(), (Snapshots{{"/", {{"/p", "V"}}}}));
  EXPECT_EQ(state.path("ID1"), "/p");
  EXPECT_EQ(state.path("ID2"), "/p");
}

TEST_F(StateTest, FailedWritesLoseNothing) {
  id("/a");
  id("/a/x");
  state_.remember("/a", {{"/a/x", "X"}});
  env_.failWrites = true;  // the disk is full from here on
  id("/b");
  state_.move("", "/a", "/c");
  state_.noteChild("/c/y", "Y");
  EXPECT_EQ(state_.anchor(), 3);              // memory moves on
  EXPECT_EQ(State("dom", env_).anchor(), 1);  // the disk holds the last good save
  env_.failWrites = false;
  state_.bumpAnchor();  // one save carries everything
  EXPECT_EQ(state_.knownFolders(), (Snapshots{{"/c", {{"/c/x", "X"}, {"/c/y", "Y"}}}}));
  expectPersisted();
}

TEST_F(StateTest, EachDomainHasItsOwnPrivateFileWhereverItCanBe) {
  State two("two", env_);
  std::string a1 = id("/a"), a2 = two.id("/a");
  EXPECT_NE(a1, a2);
  expectFileMatches(two, env_, "two", {a2});
  struct stat st;
  ASSERT_EQ(::stat(file().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  size_t files = 0;
  for (const auto& f : std::filesystem::directory_iterator(env_.statePath())) files += f.is_regular_file();
  EXPECT_EQ(files, 2u);  // no temporary file left behind

  // No data directory: the temporary one, made when missing.
  testing::TestEnv bare;
  bare.noDataDirectory = true;
  std::filesystem::remove_all(bare.tmpPath());
  State temporary("dom", bare);
  EXPECT_EQ(temporary.file(), bare.tmpPath() + "/state-dom.json");
  temporary.bumpAnchor();
  EXPECT_TRUE(fileExists(temporary.file()));
  // A directory that cannot be made: the state works in memory and its saves fail quietly.
  bare.noDataDirectory = false;
  const std::string data = std::filesystem::path(bare.statePath()).parent_path();
  std::filesystem::remove_all(data);
  writeFile(data, "a file where the directory should be");
  State memory("dom", bare);
  EXPECT_EQ(memory.path(memory.id("/a")), "/a");
}

// While one save is written, the changes made meanwhile wait for the next, which carries them all, and an
// identifier another operation minted is handed out only once it is on the disk.
TEST(StateConcurrencyTest, ChangesMadeDuringASaveShareTheNextOne) {
  testing::TestEnv env;
  State state("dom", env);
  std::mutex mu;
  std::condition_variable cv;
  bool writing = false, go = false;
  env.onWrite = [&](const std::string&) {
    std::unique_lock lock(mu);
    if (writing) return;  // only the first save is held
    writing = true;
    cv.notify_all();
    cv.wait(lock, [&] { return go; });
  };
  std::thread minting([&] { state.id("/a"); });
  {
    std::unique_lock lock(mu);
    cv.wait(lock, [&] { return writing; });
  }
  const int64_t anchor = state.anchor();
  bool savedWhenHandedOut = false;
  std::thread reading([&] {
    state.id("/a");  // minted by the other, whose save is held
    savedWhenHandedOut = testing::readFile(state.file()).find("/a") != std::string::npos;
  });
  std::thread forgetting([&] { state.forget("/x"); });
  std::thread noting([&] { state.noteChild("/y", "1"); });
  while (state.anchor() != anchor + 2) std::this_thread::yield();  // both changed, and wait for a save
  {
    std::lock_guard lock(mu);
    go = true;
  }
  cv.notify_all();
  for (auto* t : {&minting, &reading, &forgetting, &noting}) t->join();
  EXPECT_TRUE(savedWhenHandedOut);
  EXPECT_EQ(env.writes, 2) << "the held save, then one for both changes made while it was written";
  EXPECT_EQ(State("dom", env).anchor(), anchor + 2);
}

}  // namespace
}  // namespace davfp
