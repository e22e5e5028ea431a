// The davfp program's path commands end to end, as a person uses them: browsing (ls, tree, du, cat),
// copying files and whole folders both ways (get, put, -r with cp's rules), making folders, moving and
// deleting by path. Each sequence is a table of commands and what they print.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/host_drive.h"

namespace davfp::testing {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using Tree = std::map<std::string, std::string>;

class DavfpPathsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    drive_.placeOnServer("docs/a.txt", "alpha\n");
    drive_.placeOnServer("docs/sub/b.txt", "bravo bravo\n");
    drive_.placeOnServer("docs/sub/Ünï côdé.txt", "unicode\n");
    fs::create_directories(drive_.served() + "/docs/sub/empty folder");
    fs::create_directories(drive_.served() + "/empty folder");
    drive_.placeOnServer("zeta.txt", "zeta zeta\n");
    drive_.serve();
  }

  HostDrive drive_;
  const std::string s_ = drive_.scratch();
};

TEST_F(DavfpPathsTest, BrowsingAndReading) {
  runSteps(drive_, {
      {{"ls"}, 0, "docs/\nempty folder/\nzeta.txt\n"},
      {{"ls", "/docs/"}, 0, "a.txt\nsub/\n"},
      {{"ls", "docs/a.txt"}, 0, "a.txt\n"},
      {{"ls", "docs/nothing/deeper"}, 1, "", "davfp: /docs/nothing: no such item on the server\n"},
      {{"ls", "zeta.txt/x"}, 1, "", "davfp: /zeta.txt: Not a directory\n"},
      {{"ls", "-R", "docs"}, 0,
       "/docs:\na.txt\nsub/\n\n/docs/sub:\nb.txt\nempty folder/\nÜnï côdé.txt\n\n/docs/sub/empty folder:\n"},
      {{"tree", "docs"}, 0,
       "/docs\n├── a.txt\n└── sub\n    ├── b.txt\n    ├── empty folder\n    └── Ünï côdé.txt\n\n"
       "2 folders, 3 files\n"},
      {{"du", "nothing", "docs"}, 1, "26\t/docs\n", "/nothing"},
      {{"cat", "docs/a.txt", "zeta.txt"}, 0, "alpha\nzeta zeta\n"},
      {{"cat", "docs", "zeta.txt"}, 1, "zeta zeta\n", "/docs: is a folder"},
      {{"get", "docs/sub/Ünï côdé.txt", "-"}, 0, "unicode\n"},
      {{"get", "--json", "zeta.txt", "-"}, 2},
  });
  EXPECT_TRUE(fs::is_empty(s_)) << "nothing written";

  // Scripts get every item with its path.
  EXPECT_EQ(jsonLines(drive_.ok({"ls", "--json", "docs"})).at(1)["path"], "/docs/sub");
  auto tree = jsonLines(drive_.ok({"tree", "--json", "docs"}));
  ASSERT_EQ(tree.size(), 5u);
  EXPECT_EQ(tree[4]["path"], "/docs/sub/Ünï côdé.txt");
  EXPECT_EQ(jsonLines(drive_.ok({"du", "--json", "docs"})),
            (std::vector<json>{{{"path", "/docs"}, {"size", 26}, {"files", 3}, {"folders", 2}}}));
}

TEST_F(DavfpPathsTest, GetCopiesFilesAndFoldersWithTheServersDates) {
  const auto timeOf = [](const std::string& p) { return runProcess({"/usr/bin/stat", "-c%Y", p}, {}).out; };
  const std::string a = drive_.served() + "/docs/a.txt", b = drive_.served() + "/docs/sub/b.txt";
  ASSERT_EQ(runProcess({"/usr/bin/touch", "-d@1500000000", a}, {}).status, 0);
  ASSERT_EQ(runProcess({"/usr/bin/touch", "-d@1400000000", b}, {}).status, 0);
  fs::create_directory(s_ + "/into");
  runSteps(drive_, {
      {{"get", "/zeta.txt", s_ + "/renamed.txt"}},
      {{"get", "docs/a.txt", "zeta.txt", "docs/sub/Ünï côdé.txt", s_ + "/into"}},
      {{"get", "docs/a.txt", "zeta.txt", s_ + "/not-there"}, 1},
      // A folder without -r is named, and the files beside it are still copied.
      {{"get", "docs", "zeta.txt", s_ + "/into"}, 1, "", "/docs: is a folder"},
      // A name that is not there becomes the copy; a folder that is there takes it under its own name.
      {{"get", "-r", "docs", s_ + "/copy"}},
      {{"get", "-r", "docs", s_ + "/copy"}},
  });
  EXPECT_EQ(readFile(s_ + "/renamed.txt"), "zeta zeta\n");
  EXPECT_EQ(treeOf(s_ + "/into"),
            (Tree{{"a.txt", "alpha\n"}, {"zeta.txt", "zeta zeta\n"}, {"Ünï côdé.txt", "unicode\n"}}));
  EXPECT_FALSE(fileExists(s_ + "/not-there"));
  Tree docs = treeOf(drive_.served() + "/docs");
  Tree twice = docs;
  for (const auto& [path, contents] : docs) twice["docs/" + path] = contents;
  twice["docs"] = "<dir>";
  EXPECT_EQ(treeOf(s_ + "/copy"), twice) << "no download folders left either";
  EXPECT_EQ(timeOf(s_ + "/into/a.txt"), "1500000000\n");
  EXPECT_EQ(timeOf(s_ + "/copy/sub/b.txt"), "1400000000\n");

  // One file that cannot be placed (a full folder in its way) is named; the others arrive.
  fs::create_directories(s_ + "/again/docs/sub/b.txt/in the way");
  ProcessResult partly = drive_.davfp({"get", "-r", "docs", s_ + "/again"});
  EXPECT_EQ(partly.status, 1);
  EXPECT_NE(partly.err.find("again/docs/sub/b.txt: Is a directory"), std::string::npos) << partly.err;
  EXPECT_EQ(readFile(s_ + "/again/docs/sub/Ünï côdé.txt"), "unicode\n");
  EXPECT_TRUE(fs::is_directory(s_ + "/again/docs/sub/empty folder"));
}

TEST_F(DavfpPathsTest, PutCopiesFilesFoldersAndPipesToTheServer) {
  // A local tree: two files, one large, under a nested folder, and an empty folder.
  const std::string local = s_ + "/photos";
  fs::create_directories(local + "/nested/empty folder");
  writeFile(local + "/one.txt", "one\n");
  writeFile(local + "/nested/two with spaces.txt", "two two\n");
  writeFile(local + "/nested/Ünï côdé.txt", std::string(200000, 'x'));
  const Tree photos = treeOf(local);
  writeFile(s_ + "/p.txt", "p\n");
  writeFile(s_ + "/q r.txt", "q r\n");
  auto tree = drive_.serverTree();
  runSteps(drive_, {
      // Several sources, or a name ending in "/", need a folder that is there.
      {{"put", s_ + "/p.txt", "NoSuch/"}, 1, "", "davfp: /NoSuch: no such folder on the server\n"},
      {{"put", s_ + "/p.txt", "docs/a.txt/"}, 1, "", "davfp: /docs/a.txt: is a file, not a folder\n"},
      {{"put", s_ + "/p.txt", s_ + "/q r.txt", "zeta.txt"}, 1},
      {{"put", "-", "docs/"}, 2},
  });
  EXPECT_EQ(drive_.serverTree(), tree);
  runSteps(drive_, {
      {{"put", s_ + "/p.txt", s_ + "/q r.txt", "docs/"}, 0, "", "2 files, "},
      {{"put", s_ + "/q r.txt", "docs/p.txt"}},  // replaced
      {{"put", s_ + "/q r.txt", "new name.txt"}},
      {{"put", "-r", local, "/backup"}},
      {{"put", "-r", local, "/backup"}},
      {{"put", "-r", local, "/backup"}, 0, "", "3 files, "},  // replaced, nothing doubled
  });
  tree["docs/p.txt"] = tree["docs/q r.txt"] = tree["new name.txt"] = "q r\n";
  tree["backup"] = tree["backup/photos"] = "<dir>";
  for (const auto& [path, contents] : photos) tree["backup/" + path] = tree["backup/photos/" + path] = contents;
  EXPECT_EQ(drive_.serverTree(), tree);

  // Larger than any buffer through a pipe, then a shorter version over it.
  for (const std::string& contents : {std::string(300000, 'p'), std::string("short now\n")}) {
    writeFile(s_ + "/source.bin", contents);
    ProcessResult piped =
        runProcess({"/bin/sh", "-c", "cat \"$1\" | \"$0\" put - docs/piped.bin", davfpProgram(), s_ + "/source.bin"},
                   drive_.environment());
    ASSERT_EQ(piped.status, 0) << piped.err;
    EXPECT_EQ(readFile(drive_.served() + "/docs/piped.bin"), contents);
  }

  // A local file that cannot be read is named and the rest goes; a link to a folder is not followed.
  fs::create_symlink("missing target", local + "/dangling");
  fs::create_directory_symlink("nested", local + "/link to nested");
  runSteps(drive_, {{{"put", "-r", local, "/up"}, 1, "", "link to nested: is a link to a folder"}});
  EXPECT_EQ(treeOf(drive_.served() + "/up"), photos);
}

TEST_F(DavfpPathsTest, MkdirMvAndRmChangeTheTree) {
  const std::string id = jsonLines(drive_.ok({"ls", "--json", "docs"})).at(0)["id"];
  fs::remove(drive_.served() + "/docs/a.txt");  // by someone else, since it was listed
  EXPECT_EQ(jsonLines(drive_.ok({"--json", "mkdir", "-p", "new/sub folder/deep"})).at(2)["path"],
            "/new/sub folder/deep");
  EXPECT_EQ(jsonLines(drive_.ok({"mv", "--json", "zeta.txt", "new/sub folder"})).at(0)["path"],
            "/new/sub folder/zeta.txt");
  runSteps(drive_, {
      {{"mkdir", "-p", "new/sub folder"}},
      {{"mkdir", "new"}, 1, "", "davfp: /new: File exists\n"},
      {{"mkdir", "new/other"}},
      {{"mv", "new/sub folder/zeta.txt", "new/sub folder/Bericht ä.txt"}},
      {{"mv", "docs/sub/b.txt", "new/sub folder/Bericht ä.txt"}, 1, "", "davfp: /new/sub folder/Bericht ä.txt: File exists\n"},
      {{"mv", "new", "new/other"}, 2, "", "cannot be moved inside itself"},
      {{"rm", "new"}, 1, "", "use -r"},
      {{"rm", "docs/a.txt"}, 1, "", "davfp: /docs/a.txt: no such item on the server\n"},
      {{"delete", id}, 0, "{\"deleted\":\"" + id + "\"}\n"},  // gone already: done, as asked
      {{"rm", "docs/sub/b.txt"}},
      {{"rm", "-r", "docs/sub"}},
      {{"rm", "empty folder"}},
      {{"rm", "empty folder"}, 1, "", "davfp: /empty folder: no such item on the server\n"},
  });
  EXPECT_EQ(drive_.serverTree(), (Tree{{"docs", "<dir>"},
                                       {"new", "<dir>"},
                                       {"new/other", "<dir>"},
                                       {"new/sub folder", "<dir>"},
                                       {"new/sub folder/deep", "<dir>"},
                                       {"new/sub folder/Bericht ä.txt", "zeta zeta\n"}}));
}

}  // namespace
}  // namespace davfp::testing
