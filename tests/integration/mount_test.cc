// davfp mount through a real kernel mount, against real servers: programs nobody here wrote (find, cat,
// diff, cp, tar, rsync, git, fio) use the drive as a folder, and what they leave is checked on the server's
// disk after `davfp unmount`, which sends everything before it returns. Files stay dataless until opened,
// changes on the server appear, nothing written and closed is lost to a killed mount or a server away, and
// a file changed on both sides keeps both versions. Needs root and /dev/fuse; without them each test is
// skipped, saying why.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>

#include "mount_fixture.h"
#include "support/host_drive.h"
#include "support/temp_dir.h"

namespace davfp::testing {
namespace {

namespace fs = std::filesystem;

// Names that a path, a URL, XML or a normalisation could get wrong: space # % ?, an escape that is none,
// XML's specials, é composed and decomposed, CJK.
const std::vector<std::string> kOddNames = {
    "with space.txt",   "hash#.txt",           "per%cent.txt", "what?.txt", "%41 a&b<c>;'[+].txt",
    "caf\xC3\xA9.txt", "cafe\xCC\x81 2.txt", "名前.txt"};

class MountTest : public MountFixture {};

TEST_F(MountTest, ProgramsReadTheTreeAndFilesAreFetchedOnlyWhenOpened) {
  drive_.placeOnServer("docs/a.txt", "alpha\n");
  drive_.placeOnServer("docs/" + kOddNames[3], "odd\n");
  drive_.placeOnServer("docs/deeper/b.bin", std::string(100000, 'b'));
  serveAndMount();
  ProcessResult found = sh("cd '" + mnt_ + "' && find . -type f | LC_ALL=C sort && ls -lR . > /dev/null");
  ASSERT_EQ(found.status, 0) << found.err;
  EXPECT_EQ(found.out, "./docs/a.txt\n./docs/deeper/b.bin\n./docs/what?.txt\n");
  EXPECT_EQ(fs::file_size(inMount("docs/deeper/b.bin")), 100000u);
  EXPECT_EQ(replica().size(), 0u) << "listing and stat fetch nothing";

  EXPECT_EQ(readFile(inMount("docs/a.txt")), "alpha\n");
  EXPECT_EQ(replica().size(), 1u);
  ok("diff -r '" + drive_.served() + "' '" + mnt_ + "'");
  EXPECT_EQ(replica().size(), 3u);

  // Changes on the server appear.
  drive_.placeOnServer("docs/a.txt", "alpha, changed on the server\n");
  drive_.placeOnServer("docs/new.txt", "new\n");
  fs::remove(served("docs/" + kOddNames[3]));
  fs::rename(served("docs/deeper"), served("docs/renamed"));
  EXPECT_TRUE(
      eventually([&] { return readFile(inMount("docs/a.txt")) == "alpha, changed on the server\n"; }));
  EXPECT_TRUE(eventually([&] { return fs::exists(inMount("docs/new.txt")); }));
  EXPECT_TRUE(eventually([&] { return !fs::exists(inMount("docs/" + kOddNames[3])); }));
  EXPECT_TRUE(eventually([&] { return fs::exists(inMount("docs/renamed/b.bin")); }));
  EXPECT_FALSE(fs::exists(inMount("docs/deeper")));
}

// A killed mount's changes go as they are at the next mount, in an order the server can follow: here a
// file's move out of a folder waits behind the folder's deletion (the last rename moved it there), and the
// folder is deleted after it.
TEST_F(MountTest, WhatWasClosedIsSentAtTheNextMountAfterAKill) {
  drive_.placeOnServer("kept.txt", "old\n");
  drive_.placeOnServer("F/y.txt", "y\n");
  serveAndMount();
  ASSERT_EQ(readFile(inMount("kept.txt")), "old\n");
  ok("ls '" + inMount("F") + "' > /dev/null");
  drive_.server().stop();  // nothing can be sent now: the changes wait in the journal
  ok("mkdir '" + inMount("new") + "' && printf 'one\\n' > '" + inMount("new/one.txt") +
     "' && printf 'new\\n' > '" + inMount("kept.txt") + "'");
  // The move's first attempt fails at once; the sender then pauses, and the rename finds it queued.
  ok("mv '" + inMount("F/y.txt") + "' '" + inMount("y.txt") + "' && sleep 0.2 && rmdir '" + inMount("F") +
     "' && mv '" + inMount("y.txt") + "' '" + inMount("z.txt") + "'");
  const std::string holder = readFile(drive_.stateHome() + "/org.davfp.host.extension/state-t.lock");
  ASSERT_EQ(::kill(std::stoi(holder), SIGKILL), 0);  // the mount's process
  unmount();  // the kernel's side of the dead mount
  EXPECT_FALSE(fs::exists(served("new")));

  drive_.serve();
  mount();
  unmount();
  EXPECT_EQ(readFile(served("new/one.txt")), "one\n");
  EXPECT_EQ(readFile(served("kept.txt")), "new\n");
  EXPECT_EQ(readFile(served("z.txt")), "y\n");
  EXPECT_FALSE(fs::exists(served("F")));
}

// The contents of the server's files whose name starts with "stem (conflict " and ends with ").txt".
std::vector<std::string> keptBeside(const std::string& served, const std::string& stem) {
  std::vector<std::string> kept;
  for (const auto& e : fs::directory_iterator(served)) {
    std::string name = e.path().filename();
    if (name.starts_with(stem + " (conflict ") && name.ends_with(").txt")) kept.push_back(readFile(e.path()));
  }
  return kept;
}

// A file changed on both sides keeps both versions, the server's under its name, also when the local
// change comes from a program that had the file open before the server's version arrived; a deletion
// never takes the server's newer version with it.
TEST_F(MountTest, ChangesOnBothSidesKeepBoth) {
  drive_.placeOnServer("both.txt", "base\n");
  drive_.placeOnServer("changed.txt", "seen\n");
  drive_.placeOnServer("open.txt", "base\n");
  serveAndMount();
  ASSERT_EQ(readFile(inMount("both.txt")), "base\n");
  ASSERT_EQ(readFile(inMount("open.txt")), "base\n");
  ASSERT_TRUE(fs::exists(inMount("changed.txt")));
  const int fd = ::open(inMount("open.txt").c_str(), O_RDWR | O_APPEND);
  ASSERT_GE(fd, 0);
  drive_.server().stop();
  ok("printf 'local\\n' >> '" + inMount("both.txt") + "' && rm '" + inMount("changed.txt") + "'");
  for (const char* name : {"both.txt", "changed.txt", "open.txt"}) drive_.placeOnServer(name, "server\n");
  drive_.serve();
  ASSERT_EQ(drive_.davfp({"sync-now"}).status, 0);
  ASSERT_EQ(::write(fd, "local\n", 6), 6);
  ASSERT_EQ(::close(fd), 0);
  // The local version, beside the server's, says what it is.
  EXPECT_TRUE(eventually([&] {
    for (const auto& e : fs::directory_iterator(mnt_)) {
      const std::string name = e.path().filename();
      if (name.starts_with("both (conflict ")) return state(name) == "conflict";
    }
    return false;
  }));
  EXPECT_EQ(state("both.txt"), "dataless");

  unmount();
  for (const char* name : {"both.txt", "changed.txt", "open.txt"}) EXPECT_EQ(readFile(served(name)), "server\n");
  EXPECT_EQ(keptBeside(drive_.served(), "both"), std::vector<std::string>{"base\nlocal\n"});
  EXPECT_EQ(keptBeside(drive_.served(), "open"), std::vector<std::string>{"base\nlocal\n"});
}

// Mounted in the foreground from the folder above, as "mnt", so that the holder's command line names no
// absolute path: status, sync-now and the other commands find the folder; a second mount and unmounting
// anything else fail.
TEST_F(MountTest, OtherCommandsFindTheMountAndASecondMountFails) {
  drive_.serve();
  mnt_ = drive_.scratch() + "/mnt";
  fs::create_directories(mnt_);
  auto mount = ChildProcess::start({"/bin/sh", "-c",
                                    "cd '" + drive_.scratch() + "' && exec '" + davfpProgram() +
                                        "' mount mnt --foreground --poll 3600"},  // no pass by itself
                                   drive_.environment());
  mounted_ = true;
  ASSERT_TRUE(mount->waitForOutput("mounted at", true, std::chrono::seconds(60))) << mount->err();
  const std::string other = drive_.scratch() + "/other";
  fs::create_directories(other);
  runSteps(drive_, {{{"mount", other}, 1}, {{"unmount", other}, 1}});

  ASSERT_FALSE(fs::exists(inMount("later.txt")));
  drive_.placeOnServer("later.txt", "later\n");
  ASSERT_EQ(drive_.davfp({"sync-now", mnt_}).status, 0);
  EXPECT_EQ(readFile(inMount("later.txt")), "later\n");
  EXPECT_NE(drive_.ok({"status"}).find("mounted at " + mnt_ + " by process " + std::to_string(mount->pid())),
            std::string::npos);
  unmount();
  EXPECT_EQ(mount->finish(std::chrono::seconds(60)).status, 0);
}

// Programs nobody here wrote, once: tar unpacks a tree, rsync copies one in, git keeps a repository, fio
// verifies a file written in blocks.
TEST_F(MountTest, TarRsyncGitAndFioWorkAndTheirFilesReachTheServer) {
  serveAndMount();
  // 300 files of 8 KiB on average in 20 folders.
  const std::string source = drive_.scratch() + "/source";
  ok("for d in $(seq 0 19); do mkdir -p '" + source + "'/d$d; for f in $(seq 0 14); do "
     "head -c $(((d * 15 + f) * 7919 % 16384)) /dev/urandom > '" + source + "'/d$d/f$f.bin; done; done");
  ok("tar -C '" + source + "' -cf '" + drive_.scratch() + "/tree.tar' .");
  ok("mkdir '" + inMount("untarred") + "' && tar -C '" + inMount("untarred") + "' -xf '" + drive_.scratch() +
     "/tree.tar'");
  ok("rsync -a '" + source + "/d7/' '" + inMount("synced") + "/'");
  ok("cd '" + inMount("") +
     "' && git init -q repo && cd repo && echo one > a.txt && git add a.txt && "
     "git -c user.name=t -c user.email=t@t commit -qm first && echo two >> a.txt && git status --short && "
     "git -c user.name=t -c user.email=t@t commit -qam second && git log --oneline | wc -l | grep -qx 2");
  ok("cd '" + drive_.scratch() + "' && fio --name=verify --directory='" + inMount("") +
     "' --filename=fio.dat --rw=write --bs=64k --size=16m --verify=crc32c --do_verify=1 --minimal > "
     "/dev/null");

  unmount();
  ok("diff -r '" + source + "' '" + served("untarred") + "'");
  ok("diff -r '" + source + "/d7' '" + served("synced") + "'");
  // The repository as the server holds it (owned by the server's user, hence safe.directory).
  const std::string git = "git -c safe.directory='*' --git-dir='" + served("repo/.git") + "' ";
  ok(git + "fsck --no-progress && " + git + "log --oneline | wc -l | grep -qx 2 && " + git +
     "show HEAD:a.txt | grep -qx two");
  EXPECT_EQ(fs::file_size(served("fio.dat")), 16u << 20);
}

// What people do every day, on each server (each takes names, renames and deletions its own way): copy a
// tree of odd names in, save the way editors do, move, delete.
class MountServersTest : public MountFixture, public ::testing::WithParamInterface<ServerKind> {};

TEST_P(MountServersTest, CopiesSavesMovesAndDeletesArriveOnTheServer) {
  drive_.placeOnServer("old/gone.txt", "gone\n");
  drive_.placeOnServer("doc.txt", "version 1\n");
  serveAndMount(GetParam());
  const std::string source = drive_.scratch() + "/tree";
  for (size_t i = 0; i < kOddNames.size(); ++i) {
    const std::string sub = source + "/sub " + kOddNames[(i + 1) % kOddNames.size()];
    fs::create_directories(sub);
    writeFile(source + "/" + kOddNames[i], "top " + kOddNames[i] + "\n");
    writeFile(sub + "/" + kOddNames[i], "sub " + kOddNames[i] + "\n");
  }
  writeFile(source + "/empty", "");
  ok("cp -r '" + source + "' '" + inMount("tree") + "'");
  ok("diff -r '" + source + "' '" + inMount("tree") + "'");
  // An editor's save: the new version beside the old, then renamed over it.
  ok("printf 'version 2\\n' > '" + inMount(".doc.txt.swp") + "' && mv '" + inMount(".doc.txt.swp") + "' '" +
     inMount("doc.txt") + "'");
  ok("mv '" + inMount("tree") + "' '" + inMount("moved tree") + "'");
  ok("rm '" + inMount("old/gone.txt") + "' && rmdir '" + inMount("old") + "'");
  // A name the server cannot take is refused at once, not lost on the way.
  ProcessResult badName = sh("printf x > '" + inMount("bad\xff.txt") + "'");
  EXPECT_NE(badName.err.find("Invalid argument"), std::string::npos) << badName.err;
  EXPECT_EQ(readFile(inMount("doc.txt")), "version 2\n");

  unmount();
  ok("diff -r '" + source + "' '" + served("moved tree") + "'");
  EXPECT_EQ(readFile(served("doc.txt")), "version 2\n");
  EXPECT_FALSE(fs::exists(served("tree")));
  EXPECT_FALSE(fs::exists(served("old")));
  EXPECT_FALSE(fs::exists(served(".doc.txt.swp")));
}

INSTANTIATE_TEST_SUITE_P(Servers, MountServersTest, ::testing::ValuesIn(allServerKinds()),
                         [](const auto& kind) { return serverName(kind.param); });

}  // namespace
}  // namespace davfp::testing
