#include "host/drive_path.h"

#include <gtest/gtest.h>

#include "host/failure.h"

namespace davfp::cli {
namespace {

TEST(DrivePathTest, ParsesWhatPeopleType) {
  struct Case {
    std::string text;
    std::vector<std::string> names;
    std::string shown;
  } cases[] = {
      {"", {}, "/"},
      {"/", {}, "/"},
      {"docs", {"docs"}, "/docs"},
      {"/docs/", {"docs"}, "/docs"},
      {"docs//sub///a b.txt", {"docs", "sub", "a b.txt"}, "/docs/sub/a b.txt"},
      {"Grüße/ä", {"Grüße", "ä"}, "/Grüße/ä"},
      {"a/.hidden/..dots", {"a", ".hidden", "..dots"}, "/a/.hidden/..dots"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    DrivePath path = DrivePath::parse(c.text);
    EXPECT_EQ(path.names(), c.names);
    EXPECT_EQ(path.text(), c.shown);
    EXPECT_EQ(path.isRoot(), c.names.empty());
  }
  DrivePath deep = DrivePath::parse("/a/b/c");
  EXPECT_EQ(deep.parent().text(), "/a/b");
  EXPECT_EQ(deep.name(), "c");
  EXPECT_EQ(DrivePath().parent().text(), "/");
  EXPECT_EQ(DrivePath().child("x").text(), "/x");
}

TEST(DrivePathTest, RefusesDotSegmentsAndNul) {
  for (const std::string& text :
       std::vector<std::string>{".", "..", "a/../b", "/a/./b", "a/..", std::string("a\0b", 3)}) {
    SCOPED_TRACE(text);
    EXPECT_THROW(DrivePath::parse(text), UsageError);
  }
}

TEST(DrivePathTest, NamesOfNewItemsAreSingleNames) {
  struct Case {
    std::string name;
    const char* complaint;  // none when the name is fine
  } cases[] = {
      {"report.pdf", nullptr},
      {"with space", nullptr},
      {"...", nullptr},
      {".hidden", nullptr},
      {"Ünïcödé", nullptr},
      {"", "cannot be empty"},
      {".", "not a valid name"},
      {"..", "not a valid name"},
      {"a/b", "cannot contain \"/\""},
      {"/", "cannot contain \"/\""},
      {std::string("a\0b", 3), "cannot contain a NUL byte"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (!c.complaint) {
      EXPECT_NO_THROW(checkName(c.name));
      continue;
    }
    try {
      checkName(c.name);
      ADD_FAILURE() << "accepted";
    } catch (const UsageError& e) {
      EXPECT_NE(std::string(e.what()).find(c.complaint), std::string::npos) << e.what();
    }
  }
}

}  // namespace
}  // namespace davfp::cli
