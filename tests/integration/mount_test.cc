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
#include <functional>
#include <thread>

#include "mount/journal_db.h"
#include "mount_fixture.h"
#include "support/host_drive.h"
#include "support/temp_dir.h"

namespace davfp::testing {
namespace {

namespace fs = std::filesystem;

// Names that a path, a URL or a normalisation could get wrong: space # % ?, é composed and decomposed, CJK.
const std::vector<std::string> kOddNames = {"with space.txt", "hash#.txt",       "per%cent.txt",
                                            "what?.txt",      "caf\xC3\xA9.txt", "cafe\xCC\x81 2.txt",
                                            "名前.txt"};

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
  EXPECT_EQ(materialised(), 0u) << "listing and stat fetch nothing";

  EXPECT_EQ(readFile(inMount("docs/a.txt")), "alpha\n");
  EXPECT_EQ(materialised(), 1u);
  ok("diff -r '" + drive_.served() + "' '" + mnt_ + "'");
  EXPECT_EQ(materialised(), 3u);
}

TEST_F(MountTest, ChangesOnTheServerAppear) {
  drive_.placeOnServer("docs/a.txt", "alpha\n");
  drive_.placeOnServer("docs/deeper/b.txt", "b\n");
  drive_.placeOnServer("top.txt", "top\n");
  serveAndMount();
  ASSERT_EQ(readFile(inMount("docs/a.txt")), "alpha\n");
  ASSERT_TRUE(fs::exists(inMount("top.txt")));
  ASSERT_TRUE(fs::exists(inMount("docs/deeper/b.txt")));

  drive_.placeOnServer("docs/a.txt", "alpha, changed on the server\n");
  drive_.placeOnServer("docs/new.txt", "new\n");
  fs::remove(served("top.txt"));
  fs::rename(served("docs/deeper"), served("docs/renamed"));

  EXPECT_TRUE(
      eventually([&] { return readFile(inMount("docs/a.txt")) == "alpha, changed on the server\n"; }));
  EXPECT_TRUE(eventually([&] { return fs::exists(inMount("docs/new.txt")); }));
  EXPECT_TRUE(eventually([&] { return !fs::exists(inMount("top.txt")); }));
  EXPECT_TRUE(eventually([&] { return fs::exists(inMount("docs/renamed/b.txt")); }));
  EXPECT_FALSE(fs::exists(inMount("docs/deeper")));
}

// A killed mount's changes go as they are at the next mount. When the machine went down under it (the next
// mount runs in another boot), a changed file's copy may have lost bytes its journal entry speaks for: it
// goes beside the server's version, never over it.
class MountRestartTest : public MountFixture, public ::testing::WithParamInterface<bool> {};

TEST_P(MountRestartTest, WhatWasClosedIsSentAtTheNextMount) {
  const bool machineWentDown = GetParam();
  drive_.placeOnServer("kept.txt", "old\n");
  serveAndMount();
  ASSERT_EQ(readFile(inMount("kept.txt")), "old\n");
  drive_.server().stop();  // nothing can be sent now: the changes wait in the journal
  ok("mkdir '" + inMount("new") + "' && printf 'one\\n' > '" + inMount("new/one.txt") +
     "' && printf 'new\\n' > '" + inMount("kept.txt") + "'");
  ASSERT_EQ(::kill(mountProcess(), SIGKILL), 0);
  unmount();  // the kernel's side of the dead mount
  EXPECT_FALSE(fs::exists(served("new")));
  if (machineWentDown) {
    mount::JournalDb db(drive_.home() + "/.cache/davfp/t/journal.db");
    platform::MutexLock lock(db.mu);
    db.setMeta("boot", "a boot before this one");
  }

  drive_.serve();
  mount();
  unmount();
  EXPECT_EQ(readFile(served("new/one.txt")), "one\n");
  EXPECT_EQ(readFile(served("kept.txt")), machineWentDown ? "old\n" : "new\n");
  size_t besides = 0;
  for (const auto& e : fs::directory_iterator(drive_.served())) {
    if (e.path().filename().string().starts_with("kept (conflict ")) {
      ++besides;
      EXPECT_EQ(readFile(e.path()), "new\n");
    }
  }
  EXPECT_EQ(besides, machineWentDown ? 1u : 0u);
}

std::string restartName(const ::testing::TestParamInfo<bool>& param) {
  return param.param ? "MachineWentDown" : "Killed";
}
INSTANTIATE_TEST_SUITE_P(Mount, MountRestartTest, ::testing::Bool(), restartName);

TEST_F(MountTest, WithTheServerAwayFetchedFilesStayReadableAndWritesWait) {
  drive_.placeOnServer("docs/a.txt", "alpha\n");
  drive_.placeOnServer("top.txt", "top\n");
  serveAndMount();
  ASSERT_EQ(readFile(inMount("docs/a.txt")), "alpha\n");
  ASSERT_TRUE(fs::exists(inMount("top.txt")));
  drive_.server().stop();

  EXPECT_EQ(readFile(inMount("docs/a.txt")), "alpha\n");
  ProcessResult dataless = sh("cat '" + inMount("top.txt") + "'");
  EXPECT_NE(dataless.status, 0);
  EXPECT_NE(dataless.err.find("Input/output error"), std::string::npos) << dataless.err;
  ok("printf 'written while away\\n' > '" + inMount("docs/away.txt") + "' && printf 'more\\n' >> '" +
     inMount("docs/a.txt") + "'");
  EXPECT_EQ(readFile(inMount("docs/away.txt")), "written while away\n");

  drive_.serve();  // on another port: the engine finds the published address again
  EXPECT_TRUE(eventually([&] { return fs::exists(served("docs/away.txt")); }));
  EXPECT_TRUE(eventually([&] { return readFile(served("docs/a.txt")) == "alpha\nmore\n"; }));
  unmount();
  EXPECT_EQ(readFile(served("docs/away.txt")), "written while away\n");
}

TEST_F(MountTest, ChangesOnBothSidesKeepBothAndADeletionNeverTakesTheServersNewerVersion) {
  drive_.placeOnServer("both.txt", "base\n");
  drive_.placeOnServer("changed.txt", "seen\n");
  serveAndMount();
  ASSERT_EQ(readFile(inMount("both.txt")), "base\n");
  ASSERT_TRUE(fs::exists(inMount("changed.txt")));
  drive_.server().stop();
  ok("printf 'local\\n' >> '" + inMount("both.txt") + "' && rm '" + inMount("changed.txt") + "'");
  drive_.placeOnServer("both.txt", "server\n");
  drive_.placeOnServer("changed.txt", "changed on the server\n");
  drive_.serve();
  // The local version, beside the server's, says what it is.
  EXPECT_TRUE(eventually([&] {
    for (const auto& e : fs::directory_iterator(mnt_)) {
      if (!e.path().filename().string().starts_with("both (conflict ")) continue;
      ProcessResult r = sh("getfattr --only-values -n user.davfp.state '" + e.path().string() + "'");
      return r.out == "conflict";
    }
    return false;
  }));
  EXPECT_EQ(sh("getfattr --only-values -n user.davfp.state '" + inMount("both.txt") + "'").out, "dataless");

  unmount();
  EXPECT_EQ(readFile(served("both.txt")), "server\n");
  EXPECT_EQ(readFile(served("changed.txt")), "changed on the server\n");
  std::vector<std::string> conflicts;
  for (const auto& e : fs::directory_iterator(drive_.served())) {
    std::string name = e.path().filename();
    if (name.starts_with("both (conflict ")) conflicts.push_back(name);
  }
  ASSERT_EQ(conflicts.size(), 1u);
  EXPECT_EQ(readFile(served(conflicts[0])), "base\nlocal\n");
  EXPECT_TRUE(conflicts[0].ends_with(").txt"));
}

TEST_F(MountTest, AFileOpenForWritingWhenTheServersVersionChangesKeepsBoth) {
  drive_.placeOnServer("open.txt", "base\n");
  serveAndMount();
  ASSERT_EQ(readFile(inMount("open.txt")), "base\n");
  const int fd = ::open(inMount("open.txt").c_str(), O_RDWR | O_APPEND);
  ASSERT_GE(fd, 0);
  drive_.placeOnServer("open.txt", "server\n");
  ASSERT_EQ(drive_.davfp({"sync-now"}).status, 0);
  ASSERT_EQ(::write(fd, "local\n", 6), 6);
  ASSERT_EQ(::close(fd), 0);

  unmount();
  EXPECT_EQ(readFile(served("open.txt")), "server\n");
  std::vector<std::string> kept;
  for (const auto& e : fs::directory_iterator(drive_.served())) {
    if (e.path().filename().string().starts_with("open (conflict ")) kept.push_back(readFile(e.path()));
  }
  EXPECT_EQ(kept, (std::vector<std::string>{"base\nlocal\n"}));
}

TEST_F(MountTest, ASecondMountOfTheDriveAndUnmountingAnythingElseFail) {
  serveAndMount();
  const std::string other = drive_.scratch() + "/other";
  fs::create_directories(other);
  ProcessResult second = drive_.davfp({"mount", other});
  EXPECT_EQ(second.status, 1);
  EXPECT_NE(second.err.find("in use by process"), std::string::npos) << second.err;

  ProcessResult notMounted = drive_.davfp({"unmount", other});
  EXPECT_EQ(notMounted.status, 1);
  EXPECT_NE(notMounted.err.find("no drive is mounted here"), std::string::npos) << notMounted.err;
}

TEST_F(MountTest, StatusTellsSyncNowLooksAndOtherCommandsPointToTheFolder) {
  drive_.serve();
  mnt_ = drive_.scratch() + "/mnt";
  fs::create_directories(mnt_);
  mount("3600");  // no pass comes by itself during the test
  ASSERT_FALSE(fs::exists(inMount("later.txt")));
  drive_.placeOnServer("later.txt", "later\n");
  ProcessResult sync = drive_.davfp({"sync-now", mnt_});
  ASSERT_EQ(sync.status, 0) << sync.err;
  EXPECT_EQ(readFile(inMount("later.txt")), "later\n");

  ProcessResult status = drive_.davfp({"status"});
  ASSERT_EQ(status.status, 0) << status.err;
  EXPECT_NE(status.out.find("mounted at " + mnt_ + " by process " + std::to_string(mountProcess())),
            std::string::npos)
      << status.out;
  EXPECT_NE(status.out.find("changes not sent yet: 0\n"), std::string::npos) << status.out;
  EXPECT_NE(status.out.find("(done)"), std::string::npos) << status.out;

  ProcessResult ls = drive_.davfp({"ls"});
  EXPECT_EQ(ls.status, 1);
  EXPECT_NE(ls.err.find("it is mounted at " + mnt_), std::string::npos) << ls.err;
}

TEST_F(MountTest, AMountPointGivenRelativeIsFoundByOtherCommands) {
  drive_.serve();
  mnt_ = drive_.scratch() + "/mnt";
  fs::create_directories(mnt_);
  // Mounted in the foreground from the folder above, as "mnt": the holder's command line names no absolute
  // path.
  auto mount = ChildProcess::start(
      {"/bin/sh", "-c",
       "cd '" + drive_.scratch() + "' && exec '" + davfpProgram() + "' mount mnt --foreground"},
      drive_.environment());
  mounted_ = true;
  ASSERT_TRUE(mount->waitForOutput("mounted at", true, std::chrono::seconds(60))) << mount->err();
  ProcessResult ls = drive_.davfp({"--no-wait", "ls"});
  EXPECT_EQ(ls.status, 1);
  EXPECT_NE(ls.err.find("it is mounted at " + mnt_), std::string::npos) << ls.err;
  ProcessResult status = drive_.davfp({"status"});
  EXPECT_NE(status.out.find("mounted at " + mnt_), std::string::npos) << status.out;
  unmount();
  ProcessResult ended = mount->finish(std::chrono::seconds(60));
  EXPECT_EQ(ended.status, 0) << ended.err;
}

// What people do every day, on each server: copy a tree in, save the way editors do, move, delete; unpack,
// synchronise, keep a repository, verify a file written in blocks.
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

TEST_P(MountServersTest, TarRsyncGitAndFioWorkAndTheirFilesReachTheServer) {
  serveAndMount(GetParam());
  // 2,000 files of 8 KiB on average in 100 folders, packed and unpacked by tar.
  const std::string source = drive_.scratch() + "/source";
  for (int d = 0; d < 100; ++d) {
    for (int f = 0; f < 20; ++f) {
      std::string path = source + "/d" + std::to_string(d) + "/f" + std::to_string(f) + ".bin";
      fs::create_directories(fs::path(path).parent_path());
      writeFile(path,
                std::string(static_cast<size_t>((d * 20 + f) * 7919 % 16384), static_cast<char>('a' + f)));
    }
  }
  ok("tar -C '" + source + "' -cf '" + drive_.scratch() + "/tree.tar' .");
  ok("mkdir '" + inMount("untarred") + "' && tar -C '" + inMount("untarred") + "' -xf '" + drive_.scratch() +
     "/tree.tar'");
  ok("rsync -a '" + source + "/d7/' '" + inMount("synced") + "/'");
  ok("rsync -a '" + inMount("synced") + "/' '" + drive_.scratch() + "/back/'");
  ok("diff -r '" + source + "/d7' '" + drive_.scratch() + "/back'");

  ok("cd '" + inMount("") +
     "' && git init -q repo && cd repo && echo one > a.txt && git add a.txt && "
     "git -c user.name=t -c user.email=t@t commit -qm first && echo two >> a.txt && git status --short && "
     "git -c user.name=t -c user.email=t@t commit -qam second && git log --oneline | wc -l | grep -qx 2");
  ok("cd '" + drive_.scratch() + "' && fio --name=verify --directory='" + inMount("") +
     "' --filename=fio.dat --rw=write --bs=64k --size=64m --verify=crc32c --do_verify=1 --minimal > "
     "/dev/null");

  unmount();
  ok("diff -r '" + source + "' '" + served("untarred") + "'");
  ok("diff -r '" + source + "/d7' '" + served("synced") + "'");
  // The repository as the server holds it (owned by the server's user, hence safe.directory).
  const std::string git = "git -c safe.directory='*' --git-dir='" + served("repo/.git") + "' ";
  ok(git + "fsck --no-progress && " + git + "log --oneline | wc -l | grep -qx 2 && " + git +
     "show HEAD:a.txt | grep -qx two");
  EXPECT_EQ(fs::file_size(served("fio.dat")), 64u << 20);
}

INSTANTIATE_TEST_SUITE_P(Servers, MountServersTest, ::testing::ValuesIn(allServerKinds()),
                         [](const auto& kind) { return serverName(kind.param); });

}  // namespace
}  // namespace davfp::testing
