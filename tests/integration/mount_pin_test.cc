// Keeping a mount's files offline and freeing the space they take, through the folder as programs see it:
// davfp pin, unpin and evict, the attributes user.davfp.pinned and user.davfp.state as getfattr and setfattr
// use them, and the blocks that stat and du show for files in the replica and files that are not.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "mount_fixture.h"

namespace davfp::testing {
namespace {

namespace fs = std::filesystem;

class MountPinTest : public MountFixture {};

TEST_F(MountPinTest, APinnedFolderIsFetchedWholeAndStaysReadableWithTheServerAway) {
  std::string big;
  for (int i = 0; i < 300000; ++i) big += static_cast<char>('a' + i * 7 % 26);
  drive_.placeOnServer("docs/a.txt", "alpha\n");
  drive_.placeOnServer("docs/deeper/b.bin", big);
  drive_.placeOnServer("docs/deeper/c.txt", "c\n");
  drive_.placeOnServer("top.txt", "top\n");
  serveAndMount();

  runSteps(drive_, {{{"pin", "/docs"}}});  // a drive path
  for (const char* file : {"docs/a.txt", "docs/deeper/b.bin", "docs/deeper/c.txt"}) {
    EXPECT_EQ(state(file), "materialised") << file;
    EXPECT_EQ(attribute(file, "user.davfp.pinned"), "1") << file;  // from the folder
  }
  EXPECT_EQ(state("top.txt"), "dataless");
  EXPECT_EQ(attribute("top.txt", "user.davfp.pinned"), "0");
  // du counts what the replica holds, du --apparent-size the drive's sizes.
  EXPECT_TRUE(eventually([&] { return blocks(inMount("docs/deeper/b.bin")) >= 300000 / 512; }));
  EXPECT_EQ(blocks(inMount("top.txt")), 0);

  // What changes on the server in a pinned folder, and what arrives there, is fetched after the pass.
  drive_.placeOnServer("docs/a.txt", "alpha, changed\n");
  drive_.placeOnServer("docs/deeper/new.txt", "new\n");
  EXPECT_TRUE(eventually([&] { return state("docs/deeper/new.txt") == "materialised"; }));
  EXPECT_TRUE(eventually([&] {
    return sh("grep -rqx 'alpha, changed' '" + drive_.home() + "/.cache/davfp/t/contents'").status == 0;
  })) << "the changed file was not fetched";

  drive_.server().stop();
  EXPECT_EQ(readFile(inMount("docs/a.txt")), "alpha, changed\n");
  EXPECT_EQ(readFile(inMount("docs/deeper/new.txt")), "new\n");
  EXPECT_EQ(readFile(inMount("docs/deeper/b.bin")), big);
  EXPECT_EQ(readFile(inMount("docs/deeper/c.txt")), "c\n");
  ProcessResult dataless = sh("cat '" + inMount("top.txt") + "'");  // not pinned, never fetched
  EXPECT_NE(dataless.err.find("Input/output error"), std::string::npos) << dataless.err;
  // Edits and new files made offline are kept, and sent once the server is back (on another port: the
  // engine finds the published address again).
  ok("printf 'edited offline\\n' >> '" + inMount("docs/deeper/c.txt") + "' && printf 'away\\n' > '" +
     inMount("away.txt") + "'");
  drive_.serve();
  EXPECT_TRUE(eventually([&] { return fileExists(served("away.txt")); }));
  unmount();
  EXPECT_EQ(readFile(served("docs/deeper/c.txt")), "c\nedited offline\n");
  EXPECT_EQ(readFile(served("away.txt")), "away\n");
}

// Eviction drops clean copies and refuses what is not sent, pinned or open; getfattr and setfattr speak the
// two attributes and refuse values they do not take.
TEST_F(MountPinTest, EvictionAndTheAttributes) {
  drive_.placeOnServer("docs/clean.txt", std::string(50000, 'x'));
  drive_.placeOnServer("docs/changed.txt", "base\n");
  drive_.placeOnServer("f.txt", "f\n");
  serveAndMount();
  EXPECT_EQ(state("f.txt"), "dataless");
  EXPECT_EQ(state(""), "materialised") << "the root, listed";
  const std::string all = sh("getfattr -d '" + inMount("f.txt") + "'").out;
  EXPECT_NE(all.find("user.davfp.pinned=\"0\""), std::string::npos) << all;
  ok("setfattr -n user.davfp.pinned -v 1 '" + inMount("f.txt") + "'");
  EXPECT_EQ(attribute("f.txt", "user.davfp.pinned"), "1");
  ASSERT_EQ(readFile(inMount("f.txt")), "f\n");
  runSteps(drive_, {{{"evict", "/f.txt"}, 1, {}, "it is pinned"}});
  ok("setfattr -x user.davfp.pinned '" + inMount("f.txt") + "'");
  EXPECT_EQ(attribute("f.txt", "user.davfp.pinned"), "0");
  for (auto [bad, why] : {std::pair{"-n user.davfp.pinned -v 2", "Invalid argument"},
                          {"-n user.davfp.state -v materialised", "Invalid argument"},
                          {"-x user.davfp.state", "Operation not permitted"}}) {
    ProcessResult r = sh(std::string("setfattr ") + bad + " '" + inMount("f.txt") + "'");
    EXPECT_NE(r.status, 0) << bad;
    EXPECT_NE(r.err.find(why), std::string::npos) << bad << ": " << r.err;
  }
  EXPECT_EQ(state("f.txt"), "materialised");
  EXPECT_NE(attribute("f.txt", "user.other").find("Operation not supported"), std::string::npos);

  ASSERT_EQ(readFile(inMount("docs/clean.txt")), std::string(50000, 'x'));
  ASSERT_EQ(readFile(inMount("docs/changed.txt")), "base\n");
  EXPECT_TRUE(eventually([&] { return blocks(inMount("docs/clean.txt")) > 0; }));
  runSteps(drive_, {{{"evict", inMount("docs/clean.txt")}}});
  EXPECT_EQ(state("docs/clean.txt"), "dataless");
  EXPECT_TRUE(eventually([&] { return blocks(inMount("docs/clean.txt")) == 0; }));
  EXPECT_EQ(readFile(inMount("docs/clean.txt")), std::string(50000, 'x')) << "fetched again";
  // A program that has the file open for reading goes on reading the copy it opened.
  const int fd = ::open(inMount("docs/clean.txt").c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  ok("setfattr -n user.davfp.state -v dataless '" + inMount("docs/clean.txt") + "'");
  EXPECT_EQ(state("docs/clean.txt"), "dataless");
  std::string back(50000, '\0');
  EXPECT_EQ(::pread(fd, back.data(), back.size(), 0), 50000);
  EXPECT_EQ(back, std::string(50000, 'x'));
  ::close(fd);

  drive_.server().stop();
  ok("printf 'local\\n' >> '" + inMount("docs/changed.txt") + "'");
  EXPECT_EQ(state("docs/changed.txt"), "pending");
  ProcessResult folder = drive_.davfp({"evict", "docs"});
  EXPECT_EQ(folder.status, 1);
  EXPECT_NE(folder.err.find("changed.txt: not evicted: it has changes not sent yet"), std::string::npos)
      << folder.err;
  EXPECT_EQ(folder.err.find("clean.txt"), std::string::npos) << folder.err;
  EXPECT_EQ(readFile(inMount("docs/changed.txt")), "base\nlocal\n");
  runSteps(drive_, {{{"pin", "--no-wait", "/f.txt"}}});  // needs no server

  drive_.serve();
  unmount();
  EXPECT_EQ(readFile(served("docs/changed.txt")), "base\nlocal\n");
}

TEST_F(MountPinTest, TheReplicaStaysUnderItsLimitAndKeepsPinnedAndOpenFiles) {
  const int64_t mib = 1 << 20;
  for (int i = 0; i < 6; ++i) drive_.placeOnServer("big/" + std::to_string(i), std::string(3 * mib, 'a' + i));
  drive_.placeOnServer("keep/pinned.bin", std::string(2 * mib, 'p'));
  serveAndMount(ServerKind::rclone, {"--cache-max", "10M"});
  ok("setfattr -n user.davfp.pinned -v 1 '" + inMount("keep") + "'");
  ASSERT_EQ(readFile(inMount("keep/pinned.bin")), std::string(2 * mib, 'p'));
  const int held = ::open(inMount("big/0").c_str(), O_RDONLY);  // open the whole time
  ASSERT_GE(held, 0);

  for (int i = 0; i < 6; ++i) EXPECT_EQ(readFile(inMount("big/" + std::to_string(i))).size(), 3u * mib);
  auto replicaBytes = [&] {
    int64_t total = 0;
    for (const auto& file : replica()) total += blocks(file) * 512;
    return total;
  };
  EXPECT_TRUE(eventually([&] { return replicaBytes() <= 10 * mib; })) << replicaBytes();
  EXPECT_EQ(state("keep/pinned.bin"), "materialised");
  EXPECT_EQ(state("big/0"), "materialised") << "open, never evicted";
  EXPECT_EQ(state("big/5"), "materialised") << "read last: eviction stops at nine tenths of the limit";
  char c = 0;
  EXPECT_EQ(::pread(held, &c, 1, 3 * mib - 1), 1);
  EXPECT_EQ(c, 'a');
  ::close(held);
  EXPECT_EQ(readFile(inMount("big/5")), std::string(3 * mib, 'f')) << "evicted files come back";
}

}  // namespace
}  // namespace davfp::testing
