#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "state/state.h"
#include "state_file_check.h"

namespace davfp {
namespace {

using testing::fileExists;
using testing::readFile;
using testing::writeFile;

class StatePersistenceTest : public ::testing::Test {
 protected:
  void SetUp() override { std::filesystem::create_directories(env_.statePath()); }
  std::string file() { return env_.statePath() + "/state-dom.json"; }

  testing::TestEnv env_;
};

TEST_F(StatePersistenceTest, AnUnusableFileGivesAFreshStateAndStaysUntilTheNextSave) {
  const std::string good = R"({"ids":{"ID1":"/a"},"listed":{"/":{"/a":"v"}},"anchor":9})";
  std::string nul = good;
  nul.insert(10, 1, '\0');
  struct Case {
    const char* what;
    std::string bytes;
  } cases[] = {
      {"empty", ""},
      {"truncated", good.substr(0, good.size() / 2)},
      {"wrong type", R"({"ids":{"ID1":["/a"]},"listed":{},"anchor":9})"},
      {"NUL byte", nul},
      {"invalid UTF-8", R"({"ids":{"ID1":"/a)"
                        "\xc3\x28"
                        R"("},"listed":{},"anchor":9})"},
      {"anchor out of range", R"({"ids":{"ID1":"/a"},"listed":{},"anchor":9223372036854775808})"},
      {"many megabytes of garbage", std::string(8 << 20, '[')},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    writeFile(file(), c.bytes);
    State state("dom", env_);
    EXPECT_EQ(state.anchor(), 1);
    EXPECT_TRUE(state.knownFolders().empty());
    EXPECT_EQ(state.path("ID1"), std::nullopt);
    EXPECT_EQ(readFile(file()), c.bytes);  // loading never writes
    state.bumpAnchor();
    testing::expectFileMatches(state, env_, "dom", {"ID1"});
  }
}

TEST_F(StatePersistenceTest, LoadsAGoodFileWhoseIdentifiersMayShareAPath) {
  writeFile(file(), R"({"anchor":41,"listed":{"\/":{"\/p":"V"}},"ids":{"ID1":"\/p","ID2":"/p","ID3":"/q"}})");
  State state("dom", env_);
  EXPECT_EQ(state.anchor(), 41);
  EXPECT_EQ(state.knownFolders(), (State::Snapshots{{"/", {{"/p", "V"}}}}));
  EXPECT_EQ(state.path("ID1"), "/p");
  EXPECT_EQ(state.path("ID2"), "/p");
  EXPECT_EQ(state.path("ID3"), "/q");
  std::string p = state.id("/p");
  EXPECT_TRUE(p == "ID1" || p == "ID2") << p;
  EXPECT_EQ(env_.writes, 0);
}

TEST_F(StatePersistenceTest, FailedWritesLoseNothing) {
  State state("dom", env_);
  std::set<std::string> ids{state.id("/a"), state.id("/a/x")};
  state.remember("/a", {{"/a/x", "X"}});

  env_.failWrites = true;  // the disk is full from here on
  ids.insert(state.id("/b"));
  state.move("", "/a", "/c");
  state.noteChild("/c/y", "Y");
  state.commit({.bump = true});
  EXPECT_EQ(state.anchor(), 4);  // memory moves on
  {
    State onDisk("dom", env_);  // still the last good save
    EXPECT_EQ(onDisk.anchor(), 1);
    EXPECT_EQ(onDisk.knownFolders(), (State::Snapshots{{"/a", {{"/a/x", "X"}}}}));
  }

  env_.failWrites = false;
  state.bumpAnchor();  // one save carries everything
  EXPECT_EQ(state.knownFolders(), (State::Snapshots{{"/c", {{"/c/x", "X"}, {"/c/y", "Y"}}}}));
  testing::expectFileMatches(state, env_, "dom", ids);
}

TEST_F(StatePersistenceTest, EachDomainHasItsOwnPrivateFile) {
  State one("one", env_), two("two", env_), slash("../two", env_);
  std::string a1 = one.id("/a"), a2 = two.id("/a"), a3 = slash.id("/a");
  EXPECT_NE(a1, a2);
  EXPECT_NE(a2, a3);
  EXPECT_EQ(one.file(), env_.statePath() + "/state-one.json");
  EXPECT_EQ(slash.file(), env_.statePath() + "/state-..%2Ftwo.json");
  testing::expectFileMatches(one, env_, "one", {a1});
  testing::expectFileMatches(two, env_, "two", {a2});
  testing::expectFileMatches(slash, env_, "../two", {a3});

  struct stat st;
  ASSERT_EQ(::stat(one.file().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  size_t files = 0;
  for (const auto& f : std::filesystem::directory_iterator(env_.statePath())) files += f.is_regular_file();
  EXPECT_EQ(files, 3u);  // no temporary file left behind
}

TEST_F(StatePersistenceTest, DirectoryFallbacks) {
  env_.noDataDirectory = true;  // no data directory: the temporary directory, created when missing
  std::filesystem::remove_all(env_.tmpPath());
  {
    State state("dom", env_);
    EXPECT_EQ(state.file(), env_.tmpPath() + "/state-dom.json");
    state.bumpAnchor();
    EXPECT_TRUE(fileExists(state.file()));
  }
  env_.noDataDirectory = false;
  const std::string data = std::filesystem::path(env_.statePath()).parent_path();
  std::filesystem::remove_all(data);
  writeFile(data, "a file where the directory should be");
  State state("dom", env_);  // cannot create the directory: works in memory, saves fail silently
  std::string a = state.id("/a");
  state.bumpAnchor();
  EXPECT_EQ(state.path(a), "/a");
  EXPECT_EQ(state.anchor(), 2);
  EXPECT_FALSE(fileExists(state.file()));
}

TEST_F(StatePersistenceTest, ALargeStateLoadsWhole) {
  State state("dom", env_);
  std::vector<std::string> paths;
  for (int i = 0; i < 20000; ++i) {
    paths.push_back("/folder " + std::to_string(i % 100) + "/file " + std::to_string(i));
  }
  auto ids = state.ids(paths);
  EXPECT_EQ(env_.writes, 1);
  EXPECT_GT(readFile(state.file()).size(), 1u << 20);
  testing::expectFileMatches(state, env_, "dom", std::set<std::string>(ids.begin(), ids.end()));
}

}  // namespace
}  // namespace davfp
