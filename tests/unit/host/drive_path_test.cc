#include "host/drive_path.h"

#include <gtest/gtest.h>

#include "host/failure.h"

namespace davfp::cli {
namespace {

using namespace std::string_literals;

TEST(DrivePathTest, ParsesWhatPeopleTypeAndRefusesDotSegmentsAndNul) {
  struct Case {
    std::string text;
    std::optional<std::string> shown;  // none: refused
  } cases[] = {
      {"", "/"},
      {"/docs/", "/docs"},
      {"docs//sub///a b.txt", "/docs/sub/a b.txt"},
      {"a/.hidden/..dots", "/a/.hidden/..dots"},
      {".", {}},
      {"a/../b", {}},
      {"/a/./b", {}},
      {"a/..", {}},
      {"a\0b"s, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    if (!c.shown) {
      EXPECT_THROW(DrivePath::parse(c.text), UsageError);
      continue;
    }
    EXPECT_EQ(DrivePath::parse(c.text).text(), *c.shown);
  }
  DrivePath deep = DrivePath::parse("/a/b/c");
  EXPECT_EQ(deep.names(), (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(deep.parent().text(), "/a/b");
  EXPECT_EQ(DrivePath().parent().text(), "/");
}

TEST(DrivePathTest, NamesOfNewItemsAreSingleNames) {
  for (const std::string& name : {"report.pdf"s, "..."s, ".hidden"s})
    EXPECT_NO_THROW(checkName(name)) << name;
  for (const std::string& name : {""s, "."s, ".."s, "a/b"s, "a\0b"s})
    EXPECT_THROW(checkName(name), UsageError) << name;
}

}  // namespace
}  // namespace davfp::cli
