// The davfp program's commands for many files end to end: several files at once, whole folders both ways
// (-r, with cp's rules), cat, put from a pipe, tree, du and ls -R, and the server's dates kept by get.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <map>

#include "support/host_drive.h"

namespace davfp::testing {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

// Every file and folder under a local folder: relative path -> contents ("<dir>" for a folder).
std::map<std::string, std::string> localTree(const std::string& dir) {
  std::map<std::string, std::string> tree;
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    tree[fs::relative(entry.path(), dir).string()] =
        entry.is_directory() ? "<dir>" : readFile(entry.path().string());
  }
  return tree;
}

// The entries of a tree below prefix, with prefix taken off.
std::map<std::string, std::string> below(const std::map<std::string, std::string>& tree,
                                         const std::string& prefix) {
  std::map<std::string, std::string> out;
  for (const auto& [path, contents] : tree) {
    if (path.starts_with(prefix + "/")) out[path.substr(prefix.size() + 1)] = contents;
  }
  return out;
}

class DavfpTransfersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    drive_.placeOnServer("docs/a.txt", "alpha\n");
    drive_.placeOnServer("docs/sub/b.txt", "bravo bravo\n");
    drive_.placeOnServer("docs/sub/Ünï côdé.txt", "unicode\n");
    fs::create_directories(drive_.served() + "/docs/sub/empty folder");
    drive_.placeOnServer("zeta.txt", "zeta zeta\n");
    drive_.serve();
  }

  std::string ok(const std::vector<std::string>& args) {
    ProcessResult r = drive_.davfp(args);
    EXPECT_EQ(r.status, 0) << "stdout: " << r.out << "\nstderr: " << r.err;
    return r.out;
  }

  // A local tree like the server's docs folder.
  std::string makeLocalTree(const std::string& name) {
    std::string dir = drive_.scratch() + "/" + name;
    fs::create_directories(dir + "/nested/empty folder");
    writeFile(dir + "/one.txt", "one\n");
    writeFile(dir + "/nested/two with spaces.txt", "two two\n");
    writeFile(dir + "/nested/Ünï côdé.txt", std::string(200000, 'x'));
    return dir;
  }

  HostDrive drive_;
};

TEST_F(DavfpTransfersTest, SeveralFilesGoIntoAnExistingFolder) {
  const std::string s = drive_.scratch();
  writeFile(s + "/p.txt", "p\n");
  writeFile(s + "/q r.txt", "q r\n");
  ProcessResult put = drive_.davfp({"put", s + "/p.txt", s + "/q r.txt", "docs/"});
  ASSERT_EQ(put.status, 0) << put.err;
  EXPECT_EQ(readFile(drive_.served() + "/docs/p.txt"), "p\n");
  EXPECT_EQ(readFile(drive_.served() + "/docs/q r.txt"), "q r\n");
  EXPECT_NE(put.err.find("2 files, "), std::string::npos) << put.err;

  fs::create_directory(s + "/into");
  ok({"get", "docs/a.txt", "zeta.txt", "docs/sub/Ünï côdé.txt", s + "/into"});
  EXPECT_EQ(localTree(s + "/into"), (std::map<std::string, std::string>{
                                        {"a.txt", "alpha\n"}, {"zeta.txt", "zeta zeta\n"}, {"Ünï côdé.txt", "unicode\n"}}));

  // Several sources need a folder that is there; nothing moves otherwise.
  auto tree = drive_.serverTree();
  EXPECT_EQ(drive_.davfp({"put", s + "/p.txt", s + "/q r.txt", "nothing/"}).status, 1);
  EXPECT_EQ(drive_.davfp({"put", s + "/p.txt", s + "/q r.txt", "zeta.txt"}).status, 1);
  EXPECT_EQ(drive_.serverTree(), tree);
  EXPECT_EQ(drive_.davfp({"get", "docs/a.txt", "zeta.txt", s + "/not-there"}).status, 1);
  EXPECT_FALSE(fileExists(s + "/not-there"));
  // A folder without -r is named, and the files beside it are still copied.
  fs::create_directory(s + "/mixed");
  ProcessResult mixed = drive_.davfp({"get", "docs", "zeta.txt", s + "/mixed"});
  EXPECT_EQ(mixed.status, 1);
  EXPECT_NE(mixed.err.find("/docs: is a folder"), std::string::npos) << mixed.err;
  EXPECT_EQ(readFile(s + "/mixed/zeta.txt"), "zeta zeta\n");
}

TEST_F(DavfpTransfersTest, RecursiveCopiesFollowCpRulesBothWays) {
  const std::string local = makeLocalTree("photos");
  const auto expected = localTree(local);
  // A name that is not there becomes the copy; a folder that is there takes it under its own name.
  ok({"put", "-r", local, "/backup"});
  EXPECT_EQ(below(drive_.serverTree(), "backup"), expected);
  ok({"put", "-r", local, "/backup"});
  EXPECT_EQ(below(drive_.serverTree(), "backup/photos"), expected);
  // Again: the files there are replaced, nothing is doubled.
  writeFile(local + "/one.txt", "one, changed\n");
  ProcessResult again = drive_.davfp({"put", "-r", local, "/backup"});
  ASSERT_EQ(again.status, 0) << again.err;
  EXPECT_NE(again.err.find("3 files, "), std::string::npos) << again.err;
  EXPECT_EQ(below(drive_.serverTree(), "backup/photos"), localTree(local));

  const std::string s = drive_.scratch();
  ok({"get", "-r", "docs", s + "/copy"});
  const auto docs = below(drive_.serverTree(), "docs");
  EXPECT_EQ(localTree(s + "/copy"), docs);
  ok({"get", "-r", "docs", s + "/copy"});
  EXPECT_EQ(below(localTree(s + "/copy"), "docs"), docs);
  // Only the copies are left: no download folders.
  for (const auto& entry : fs::directory_iterator(s + "/copy")) {
    EXPECT_FALSE(entry.path().filename().string().starts_with(".davfp")) << entry.path();
  }
}

TEST_F(DavfpTransfersTest, GetKeepsTheServersModificationTime) {
  const auto setTime = [](const std::string& path, time_t when) {
    struct timespec times[2] = {{when, 0}, {when, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
  };
  const auto timeOf = [](const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st.st_mtime;
  };
  setTime(drive_.served() + "/docs/a.txt", 1500000000);
  setTime(drive_.served() + "/docs/sub/b.txt", 1400000000);
  const std::string s = drive_.scratch();
  ok({"get", "docs/a.txt", s + "/single.txt"});
  EXPECT_EQ(timeOf(s + "/single.txt"), 1500000000);
  ok({"get", "-r", "docs", s + "/tree"});
  EXPECT_EQ(timeOf(s + "/tree/a.txt"), 1500000000);
  EXPECT_EQ(timeOf(s + "/tree/sub/b.txt"), 1400000000);
}

TEST_F(DavfpTransfersTest, AFailingFileDoesNotStopTheOthers) {
  const std::string s = drive_.scratch();
  // Where one file should go there is a folder with something in it: that file cannot be placed.
  fs::create_directories(s + "/copy/docs/sub/b.txt/in the way");
  ProcessResult r = drive_.davfp({"get", "-r", "docs", s + "/copy"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("copy/docs/sub/b.txt: Is a directory"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("2 files, 14 B in "), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("; 1 failed"), std::string::npos) << r.err;
  EXPECT_EQ(readFile(s + "/copy/docs/a.txt"), "alpha\n");
  EXPECT_EQ(readFile(s + "/copy/docs/sub/Ünï côdé.txt"), "unicode\n");
  EXPECT_TRUE(fs::is_directory(s + "/copy/docs/sub/empty folder"));

  // The same for put: a local file that cannot be read is named, the rest goes.
  const std::string local = makeLocalTree("up");
  fs::create_symlink("missing target", local + "/dangling");
  // A link to a folder is not followed (it could lead round in a loop): named, and not copied.
  fs::create_directory_symlink("nested", local + "/link to nested");
  ProcessResult up = drive_.davfp({"put", "-r", local, "/up"});
  EXPECT_EQ(up.status, 1);
  EXPECT_NE(up.err.find("dangling"), std::string::npos) << up.err;
  EXPECT_NE(up.err.find("link to nested: is a link to a folder"), std::string::npos) << up.err;
  EXPECT_NE(up.err.find("3 files, "), std::string::npos) << up.err;
  EXPECT_FALSE(fileExists(drive_.served() + "/up/link to nested"));
  EXPECT_EQ(readFile(drive_.served() + "/up/nested/two with spaces.txt"), "two two\n");
}

TEST_F(DavfpTransfersTest, CatAndPutFromAPipeStream) {
  EXPECT_EQ(ok({"cat", "docs/a.txt", "zeta.txt"}), "alpha\nzeta zeta\n");
  ProcessResult folder = drive_.davfp({"cat", "docs", "zeta.txt"});
  EXPECT_EQ(folder.status, 1);
  EXPECT_EQ(folder.out, "zeta zeta\n");
  EXPECT_NE(folder.err.find("/docs: is a folder"), std::string::npos) << folder.err;

  // Larger than any buffer, through a pipe; then again over the same file.
  std::string bytes;
  for (int i = 0; i < 300000; ++i) bytes += static_cast<char>('a' + i % 26);
  const std::string file = drive_.scratch() + "/source.bin";
  for (const std::string& contents : {bytes, std::string("short now\n")}) {
    writeFile(file, contents);
    ProcessResult piped = runProcess(
        {"/bin/sh", "-c", "cat \"$1\" | \"$0\" put - docs/piped.bin", davfpProgram(), file},
        drive_.environment());
    ASSERT_EQ(piped.status, 0) << piped.err;
    EXPECT_EQ(readFile(drive_.served() + "/docs/piped.bin"), contents);
  }
  EXPECT_EQ(drive_.davfp({"put", "-", "docs/"}).status, 2);
  EXPECT_EQ(drive_.davfp({"put", "-", "docs"}).status, 2);
}

TEST_F(DavfpTransfersTest, TreeDuAndRecursiveListingWalkEverything) {
  EXPECT_EQ(ok({"tree", "docs"}),
            "/docs\n"
            "├── a.txt\n"
            "└── sub\n"
            "    ├── b.txt\n"
            "    ├── empty folder\n"
            "    └── Ünï côdé.txt\n"
            "\n"
            "2 folders, 3 files\n");
  auto items = jsonLines(ok({"tree", "--json", "docs"}));
  ASSERT_EQ(items.size(), 5u);
  EXPECT_EQ(items[4]["path"], "/docs/sub/Ünï côdé.txt");
  EXPECT_EQ(items[4]["size"], 8);

  // 6 + 12 + 8 bytes below docs; 10 more in zeta.txt.
  EXPECT_EQ(ok({"du", "docs", "zeta.txt"}), "26\t/docs\n10\t/zeta.txt\n");
  EXPECT_EQ(ok({"du"}), "36\t/\n");
  drive_.placeOnServer("big.bin", std::string(3 * 1024 * 1024 / 2, 'b'));
  EXPECT_EQ(ok({"du", "-h", "big.bin"}), "1.5M\t/big.bin\n");
  auto sizes = jsonLines(ok({"du", "--json", "docs"}));
  ASSERT_EQ(sizes.size(), 1u);
  EXPECT_EQ(sizes[0], (json{{"path", "/docs"}, {"size", 26}, {"files", 3}, {"folders", 2}}));
  EXPECT_EQ(drive_.davfp({"du", "nothing", "docs"}).out, "26\t/docs\n");

  EXPECT_EQ(ok({"ls", "-R", "docs"}),
            "/docs:\na.txt\nsub/\n\n/docs/sub:\nb.txt\nempty folder/\nÜnï côdé.txt\n\n/docs/sub/empty folder:\n");
  std::string listing = ok({"ls", "-R", "-l", "docs"});
  EXPECT_NE(listing.find("\n\n/docs/sub:\n-  12  "), std::string::npos) << listing;
}

}  // namespace
}  // namespace davfp::testing
