// The davfp program's path commands end to end, as a person uses them: browsing, downloading, uploading,
// making folders, moving and deleting by path, and watching for changes made on the server.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

#include "support/host_drive.h"

namespace davfp::testing {
namespace {

using nlohmann::json;

class DavfpPathsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    drive_.placeOnServer("docs/a.txt", "alpha\n");
    drive_.placeOnServer("docs/Ünïcödé name.txt", "unicode\n");
    drive_.placeOnServer("zeta.txt", "zeta zeta\n");
    std::filesystem::create_directories(drive_.served() + "/empty folder");
    drive_.serve();
  }

  // Runs a command that must succeed and returns its stdout.
  std::string ok(const std::vector<std::string>& args) {
    ProcessResult r = drive_.davfp(args);
    EXPECT_EQ(r.status, 0) << "stdout: " << r.out << "\nstderr: " << r.err;
    return r.out;
  }

  HostDrive drive_;
};

TEST_F(DavfpPathsTest, LsListsFoldersShortLongAndAsJson) {
  EXPECT_EQ(ok({"ls"}), "docs/\nempty folder/\nzeta.txt\n");
  EXPECT_EQ(ok({"ls", "/docs/"}), "a.txt\nÜnïcödé name.txt\n");
  EXPECT_EQ(ok({"ls", "docs/a.txt"}), "a.txt\n");
  EXPECT_EQ(ok({"ls", "empty folder"}), "");

  // Kind, size right-aligned, date, name: the columns line up.
  std::string listing = ok({"ls", "-l"});
  std::istringstream lines(listing);
  std::vector<std::string> rows;
  for (std::string row; std::getline(lines, row);) rows.push_back(row);
  ASSERT_EQ(rows.size(), 3u) << listing;
  EXPECT_TRUE(rows[0].starts_with("d   -  ")) << listing;
  EXPECT_TRUE(rows[2].starts_with("-  10  ")) << listing;
  EXPECT_TRUE(rows[2].ends_with("  zeta.txt")) << listing;
  for (const auto& row : rows) EXPECT_EQ(row.find_first_of("0123456789", 7), 7u) << row;  // the date column

  auto items = jsonLines(ok({"ls", "--json", "docs"}));
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[1]["name"], "Ünïcödé name.txt");
  EXPECT_EQ(items[1]["size"], 8);
  EXPECT_EQ(items[0]["path"], "/docs/a.txt");
  EXPECT_EQ(items[1]["path"], "/docs/Ünïcödé name.txt");
  EXPECT_EQ(jsonLines(ok({"ls", "--json", "/docs/a.txt"})).at(0)["path"], "/docs/a.txt");
  EXPECT_EQ(jsonLines(ok({"ls", "--json"})).at(0)["path"], "/docs");

  ProcessResult missing = drive_.davfp({"ls", "docs/nothing/deeper"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.err, "davfp: /docs/nothing: no such item on the server\n");
  ProcessResult throughFile = drive_.davfp({"ls", "zeta.txt/x"});
  EXPECT_EQ(throughFile.status, 1);
  EXPECT_EQ(throughFile.err, "davfp: /zeta.txt: Not a directory\n");
}

TEST_F(DavfpPathsTest, GetSavesFilesWhereAsked) {
  const std::string dir = drive_.scratch();
  ok({"get", "docs/Ünïcödé name.txt", dir});
  EXPECT_EQ(readFile(dir + "/Ünïcödé name.txt"), "unicode\n");
  ok({"get", "/zeta.txt", dir + "/renamed.txt"});
  EXPECT_EQ(readFile(dir + "/renamed.txt"), "zeta zeta\n");
  // Nothing is left of the download but the file itself.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 2);

  ProcessResult folder = drive_.davfp({"get", "docs", dir});
  EXPECT_EQ(folder.status, 1);
  EXPECT_NE(folder.err.find("davfp: /docs: is a folder"), std::string::npos) << folder.err;
  ProcessResult asJson = drive_.davfp({"get", "--json", "docs/a.txt", dir});
  EXPECT_EQ(jsonLines(asJson.out).at(0)["name"], "a.txt");
  EXPECT_EQ(jsonLines(asJson.out).at(0)["path"], "/docs/a.txt");
}

TEST_F(DavfpPathsTest, GetWritesThroughLinksIntoFifosAndToStandardOutput) {
  const std::string dir = drive_.scratch();
  // A link is followed: the file it leads to takes the contents, the link stays a link.
  std::filesystem::create_directory(dir + "/elsewhere");
  writeFile(dir + "/elsewhere/target.txt", "old\n");
  std::filesystem::create_symlink("elsewhere/target.txt", dir + "/link.txt");
  ok({"get", "zeta.txt", dir + "/link.txt"});
  EXPECT_TRUE(std::filesystem::is_symlink(dir + "/link.txt"));
  EXPECT_EQ(readFile(dir + "/elsewhere/target.txt"), "zeta zeta\n");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir + "/elsewhere"), {}), 1);

  // A FIFO is written to, and stays a FIFO.
  // Its reading end is open before davfp starts, so that neither side waits for the other.
  ASSERT_EQ(::mkfifo((dir + "/pipe").c_str(), 0600), 0);
  int reader = ::open((dir + "/pipe").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(reader, 0);
  ProcessResult toPipe = drive_.davfp({"get", "docs/a.txt", dir + "/pipe"});
  EXPECT_EQ(toPipe.status, 0) << toPipe.err;
  char piped[64] = {};
  ssize_t got = ::read(reader, piped, sizeof piped);
  ::close(reader);
  EXPECT_EQ(std::string(piped, static_cast<size_t>(std::max<ssize_t>(got, 0))), "alpha\n");
  EXPECT_TRUE(std::filesystem::is_fifo(dir + "/pipe"));

  // "-" is standard output, and leaves no file anywhere.
  EXPECT_EQ(ok({"get", "docs/Ünïcödé name.txt", "-"}), "unicode\n");
  EXPECT_FALSE(fileExists(dir + "/-"));
  EXPECT_EQ(drive_.davfp({"get", "--json", "zeta.txt", "-"}).status, 2);
}

TEST_F(DavfpPathsTest, PutMkdirMvAndRmChangeTheServer) {
  const std::string local = drive_.scratch() + "/report.txt";
  writeFile(local, "first\n");
  ProcessResult first = drive_.davfp({"put", local, "/docs/"});
  ASSERT_EQ(first.status, 0) << first.err;
  EXPECT_EQ(readFile(drive_.served() + "/docs/report.txt"), "first\n");
  // Again onto the file itself: its contents are replaced.
  writeFile(local, "second version\n");
  ok({"put", local, "docs/report.txt"});
  EXPECT_EQ(readFile(drive_.served() + "/docs/report.txt"), "second version\n");
  // A new name in an existing folder.
  ok({"put", local, "copy with spaces.txt"});
  EXPECT_EQ(readFile(drive_.served() + "/copy with spaces.txt"), "second version\n");

  auto made = jsonLines(ok({"--json", "mkdir", "-p", "new/sub folder/deep"}));
  ASSERT_EQ(made.size(), 3u);
  EXPECT_EQ(made[0]["path"], "/new");
  EXPECT_EQ(made[2]["path"], "/new/sub folder/deep");
  EXPECT_TRUE(std::filesystem::is_directory(drive_.served() + "/new/sub folder/deep"));
  ok({"mkdir", "-p", "new/sub folder"});  // exists: fine with -p
  ProcessResult exists = drive_.davfp({"mkdir", "new"});
  EXPECT_EQ(exists.status, 1);
  EXPECT_EQ(exists.err, "davfp: /new: File exists\n");
  ok({"mkdir", "new/other"});
  EXPECT_TRUE(std::filesystem::is_directory(drive_.served() + "/new/other"));

  // Into a folder, then renamed in place.
  EXPECT_EQ(jsonLines(ok({"mv", "--json", "docs/report.txt", "new/sub folder"})).at(0)["path"],
            "/new/sub folder/report.txt");
  EXPECT_EQ(readFile(drive_.served() + "/new/sub folder/report.txt"), "second version\n");
  EXPECT_FALSE(fileExists(drive_.served() + "/docs/report.txt"));
  ok({"mv", "new/sub folder/report.txt", "new/sub folder/Bericht ä.txt"});
  EXPECT_TRUE(fileExists(drive_.served() + "/new/sub folder/Bericht ä.txt"));
  auto tree = drive_.serverTree();
  ProcessResult taken = drive_.davfp({"mv", "zeta.txt", "copy with spaces.txt"});
  EXPECT_EQ(taken.status, 1);
  EXPECT_EQ(taken.err, "davfp: /copy with spaces.txt: File exists\n");
  ProcessResult inside = drive_.davfp({"mv", "new", "new/other"});
  EXPECT_EQ(inside.status, 2);
  EXPECT_NE(inside.err.find("cannot be moved inside itself"), std::string::npos) << inside.err;
  EXPECT_EQ(drive_.serverTree(), tree);

  ProcessResult notEmpty = drive_.davfp({"rm", "new"});
  EXPECT_EQ(notEmpty.status, 1);
  EXPECT_NE(notEmpty.err.find("use -r"), std::string::npos) << notEmpty.err;
  EXPECT_EQ(drive_.serverTree(), tree);
  ok({"rm", "copy with spaces.txt"});
  ok({"rm", "-r", "new"});
  ok({"rm", "empty folder"});
  EXPECT_FALSE(fileExists(drive_.served() + "/new"));
  EXPECT_FALSE(fileExists(drive_.served() + "/copy with spaces.txt"));
  EXPECT_EQ(ok({"ls"}), "docs/\nzeta.txt\n");
  ProcessResult gone = drive_.davfp({"rm", "new"});
  EXPECT_EQ(gone.status, 1);
  EXPECT_EQ(gone.err, "davfp: /new: no such item on the server\n");
}

TEST_F(DavfpPathsTest, PutIntoAFolderThatIsNotThereSendsNothing) {
  const std::string local = drive_.scratch() + "/notes.txt";
  writeFile(local, "notes\n");
  auto tree = drive_.serverTree();
  ProcessResult missing = drive_.davfp({"put", local, "NoSuch/"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.err, "davfp: /NoSuch: no such folder on the server\n");
  ProcessResult file = drive_.davfp({"put", local, "docs/a.txt/"});
  EXPECT_EQ(file.status, 1);
  EXPECT_EQ(file.err, "davfp: /docs/a.txt: is a file, not a folder\n");
  EXPECT_EQ(drive_.serverTree(), tree);
  ok({"put", local, "docs/"});
  EXPECT_EQ(readFile(drive_.served() + "/docs/notes.txt"), "notes\n");
}

TEST_F(DavfpPathsTest, RmOfAnItemGoneMeanwhileSaysSo) {
  auto listed = jsonLines(ok({"ls", "--json", "docs"}));
  ASSERT_EQ(listed.size(), 2u);
  const std::string id = listed[0]["id"];
  // Deleted by someone else since it was listed.
  std::filesystem::remove(drive_.served() + "/docs/a.txt");
  ProcessResult gone = drive_.davfp({"rm", "docs/a.txt"});
  EXPECT_EQ(gone.status, 1);
  EXPECT_EQ(gone.err, "davfp: /docs/a.txt: no such item on the server\n");
  // The platform's delete of an identifier already gone is done, as asked.
  ProcessResult deleted = drive_.davfp({"delete", id});
  EXPECT_EQ(deleted.status, 0) << deleted.err;
  EXPECT_EQ(jsonLines(deleted.out).at(0)["deleted"], id);
}

TEST_F(DavfpPathsTest, WatchPrintsServerSideChangesUntilInterrupted) {
  ok({"ls", "docs"});
  auto watch = drive_.startDavfp({"watch", "--interval", "1"});
  ASSERT_TRUE(watch->waitForOutput("watching", true, std::chrono::seconds(30))) << watch->err();
  drive_.placeOnServer("docs/arrived.txt", "hello\n");
  std::filesystem::remove(drive_.served() + "/docs/a.txt");
  EXPECT_TRUE(watch->waitForOutput("new      /docs/arrived.txt\n", false, std::chrono::seconds(30)))
      << watch->out();
  EXPECT_TRUE(watch->waitForOutput("deleted  /docs/a.txt\n", false, std::chrono::seconds(30)))
      << watch->out();
  drive_.placeOnServer("docs/arrived.txt", "hello again, longer\n");
  EXPECT_TRUE(watch->waitForOutput("changed  /docs/arrived.txt\n", false, std::chrono::seconds(30)))
      << watch->out();
  watch->signal(SIGINT);
  ProcessResult r = watch->finish(std::chrono::seconds(30));
  EXPECT_EQ(r.status, 130) << r.err;
}

TEST_F(DavfpPathsTest, WatchAsJsonPrintsTheAnchorOnlyWhenItMoves) {
  ok({"ls", "docs"});
  auto watch = drive_.startDavfp({"--json", "watch", "--interval", "1"});
  ASSERT_TRUE(watch->waitForOutput("{\"anchor\"", false, std::chrono::seconds(30))) << watch->err();
  // Quiet passes go by; each would have printed the same anchor again.
  std::this_thread::sleep_for(std::chrono::seconds(3));
  drive_.placeOnServer("docs/arrived.txt", "hello\n");
  ASSERT_TRUE(watch->waitForOutput("arrived.txt", false, std::chrono::seconds(30))) << watch->out();
  watch->signal(SIGINT);
  ProcessResult r = watch->finish(std::chrono::seconds(30));
  EXPECT_EQ(r.status, 130) << r.err;
  auto lines = jsonLines(r.out);
  int anchors = 0;
  for (const auto& line : lines) anchors += line.contains("anchor") ? 1 : 0;
  ASSERT_GE(lines.size(), 3u) << r.out;
  EXPECT_EQ(anchors, 2) << r.out;  // where watching began, and after the change
  EXPECT_TRUE(lines.back().contains("anchor")) << r.out;
  EXPECT_NE(lines.front()["anchor"], lines.back()["anchor"]) << r.out;
  bool arrived = false;
  for (const auto& line : lines) {
    if (line.contains("updated") && line["updated"]["name"] == "arrived.txt") {
      arrived = true;
      EXPECT_EQ(line["updated"]["path"], "/docs/arrived.txt");
    }
  }
  EXPECT_TRUE(arrived) << r.out;
}

}  // namespace
}  // namespace davfp::testing
