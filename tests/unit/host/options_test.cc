#include "host/options.h"

#include <gtest/gtest.h>

#include "host/failure.h"

namespace davfp::cli {
namespace {

std::variant<Options, int> parse(std::vector<std::string> args) {
  args.insert(args.begin(), "davfp");
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  return parseCommandLine(static_cast<int>(argv.size()), argv.data());
}

TEST(OptionsTest, CommandsAndTheirArguments) {
  struct Case {
    std::vector<std::string> args;
    std::function<void(const Options&)> check;
  } cases[] = {
      {{"--domain", "d", "-v", "ls", "-l", "docs"},
       [](const Options& o) {
         EXPECT_EQ(o.command, Command::ls);
         EXPECT_EQ(o.domain, "d");
         EXPECT_TRUE(o.verbose && o.longFormat);
         EXPECT_EQ(o.path, "docs");
       }},
      // Global options may also follow the command.
      {{"ls", "--json", "--domain", "e"},
       [](const Options& o) {
         EXPECT_TRUE(o.json);
         EXPECT_EQ(o.domain, "e");
       }},
      {{"create", "root", "n", "--folder"},
       [](const Options& o) {
         EXPECT_EQ(o.parent, "root");
         EXPECT_EQ(o.name, "n");
         EXPECT_TRUE(o.folder && !o.contents);
       }},
      {{"modify", "x", "--name", "n", "--parent", "root", "--fields", "0x3"},
       [](const Options& o) {
         EXPECT_EQ(o.name, "n");
         EXPECT_EQ(o.newParent, "root");
         EXPECT_EQ(o.fieldMask, "0x3");
       }},
      // Options not given stay absent, so that the changed fields follow from those given.
      {{"modify", "x"},
       [](const Options& o) { EXPECT_FALSE(o.name || o.newParent || o.contents || o.fieldMask); }},
      // -h is ls's human-readable sizes, as in ls -lh, never help.
      {{"ls", "-lh", "docs"},
       [](const Options& o) {
         EXPECT_EQ(o.command, Command::ls);
         EXPECT_TRUE(o.longFormat && o.humanSizes);
         EXPECT_EQ(o.path, "docs");
       }},
      // The last of several operands is where they go; one operand is get's path alone.
      {{"get", "a", "b", "c", "dir"},
       [](const Options& o) {
         EXPECT_EQ(o.sources, (std::vector<std::string>{"a", "b", "c"}));
         EXPECT_EQ(o.local, "dir");
       }},
      {{"get", "-r", "docs"},
       [](const Options& o) {
         EXPECT_TRUE(o.recursive);
         EXPECT_EQ(o.path, "docs");
         EXPECT_EQ(o.sources, (std::vector<std::string>{"docs"}));
         EXPECT_EQ(o.local, "");
       }},
      {{"put", "-r", "x", "y", "/dest/"},
       [](const Options& o) {
         EXPECT_TRUE(o.recursive);
         EXPECT_EQ(o.sources, (std::vector<std::string>{"x", "y"}));
         EXPECT_EQ(o.local, "x");
         EXPECT_EQ(o.path, "/dest/");
       }},
      {{"put", "-", "log.txt"},
       [](const Options& o) {
         EXPECT_EQ(o.local, "-");
         EXPECT_EQ(o.path, "log.txt");
       }},
      {{"du", "-h", "a", "b"},
       [](const Options& o) {
         EXPECT_EQ(o.command, Command::du);
         EXPECT_TRUE(o.humanSizes);
         EXPECT_EQ(o.paths.size(), 2u);
       }},
      {{"ls", "-lR", "d"}, [](const Options& o) { EXPECT_TRUE(o.recursive && o.longFormat); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    auto parsed = parse(c.args);
    ASSERT_TRUE(std::holds_alternative<Options>(parsed));
    c.check(std::get<Options>(parsed));
  }
}

TEST(OptionsTest, UsageErrorsEndWithStatusTwoHelpWithZero) {
  std::vector<std::vector<std::string>> usage = {
      {},
      {"bogus"},
      {"create", "root"},
      {"item", "a", "b"},
      {"watch", "--interval", "x"},
      {"delete", "x", "--version", "v", "--before-first-sync"},
      {"create", "p", "n", "--folder", "--type", "text/plain"},
      // -h means something to ls only; elsewhere it is an unknown option, not a request for help.
      {"-h"},
      {"get", "-h", "x"},
      {"ls", "-lhz"},
      {"put", "a"},
      {"cat"},
  };
  for (const auto& args : usage) {
    SCOPED_TRACE(::testing::PrintToString(args));
    auto parsed = parse(args);
    ASSERT_TRUE(std::holds_alternative<int>(parsed));
    EXPECT_EQ(std::get<int>(parsed), 2);
  }
  for (std::vector<std::string> args :
       {std::vector<std::string>{"--version"}, {"--help"}, {"ls", "--help"}}) {
    auto parsed = parse(args);
    ASSERT_TRUE(std::holds_alternative<int>(parsed));
    EXPECT_EQ(std::get<int>(parsed), 0);
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

}  // namespace
}  // namespace davfp::cli
