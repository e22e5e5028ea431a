// What the command line gives: commands, options and operands, field masks, and the drive paths and names
// that people type.
#include "host/drive_path.h"
#include "host/options.h"

#include <gtest/gtest.h>

#include "host/failure.h"

namespace davfp::cli {
namespace {

using namespace std::string_literals;

std::variant<Options, int> parse(std::vector<std::string> args) {
  args.insert(args.begin(), "davfp");
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  return parseCommandLine(static_cast<int>(argv.size()), argv.data());
}

// The cases where an option or operand could be read otherwise (the plain ones run end to end), and the
// usage errors, which end with status 2, and help, which ends with 0.
TEST(OptionsTest, CommandsAndTheirArgumentsOrTheStatusToEndWith) {
  struct Case {
    std::vector<std::string> args;
    std::function<bool(const Options&)> holds;  // none: no options, the program ends with status
    int status = 0;
  } cases[] = {
      // Global options may also follow the command.
      {{"ls", "--json", "--domain", "e"}, [](const Options& o) { return o.json && o.domain == "e"; }},
      // Options not given stay absent, so that the changed fields follow from those given.
      {{"modify", "x"},
       [](const Options& o) { return !(o.name || o.newParent || o.contents || o.fieldMask); }},
      // -h is ls's human-readable sizes, as in ls -lh, never help.
      {{"ls", "-lh", "docs"},
       [](const Options& o) { return o.longFormat && o.humanSizes && o.path == "docs"; }},
      // The last of several operands is where they go.
      {{"get", "a", "b", "dir"},
       [](const Options& o) {
         return o.sources == std::vector<std::string>{"a", "b"} && o.local == "dir";
       }},
      {{"put", "-r", "x", "y", "/dest/"},
       [](const Options& o) {
         return o.sources == std::vector<std::string>{"x", "y"} && o.path == "/dest/";
       }},
      {{}, {}, 2},
      {{"bogus"}, {}, 2},
      {{"delete", "x", "--version", "v", "--before-first-sync"}, {}, 2},
      // -h means something to ls only; elsewhere it is an unknown option, not a request for help.
      {{"-h"}, {}, 2},
      {{"get", "-h", "x"}, {}, 2},
      {{"put", "a"}, {}, 2},
      {{"--version"}, {}, 0},
      {{"--help"}, {}, 0},
      {{"ls", "--help"}, {}, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    auto parsed = parse(c.args);
    if (c.holds) {
      ASSERT_TRUE(std::holds_alternative<Options>(parsed));
      EXPECT_TRUE(c.holds(std::get<Options>(parsed)));
    } else {
      ASSERT_TRUE(std::holds_alternative<int>(parsed));
      EXPECT_EQ(std::get<int>(parsed), c.status);
    }
  }
}

TEST(OptionsTest, AliasesAndFieldMasks) {
  EXPECT_EQ(identifierFor("workingset"), platform::kWorkingSetContainerItemIdentifier);
  EXPECT_EQ(identifierFor("Root"), "Root");

  struct Case {
    std::string text;
    platform::ItemFields mask;
  } good[] = {{"0", 0}, {"7", 7}, {"0x80", 0x80}, {"0X3f8", 0x3F8}, {"0xffffffffffffffff", ~0ULL}};
  for (const auto& c : good) EXPECT_EQ(parseFieldMask(c.text), c.mask) << c.text;
  for (std::string text :
       {"", "0x", "-1", "+1", "1e3", "12abc", "0x10000000000000000", "99999999999999999999"}) {
    EXPECT_THROW(parseFieldMask(text), UsageError) << text;
  }
}

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
