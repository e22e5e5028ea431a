#include "platform/desktop_entry.h"

#include <gtest/gtest.h>

namespace davfp::platform {
namespace {

using Args = std::vector<std::string>;

TEST(DesktopEntryTest, ExecSplitsByTheQuotingRulesAndDropsFieldCodes) {
  struct Case {
    const char* exec;
    std::optional<Args> args;
  } cases[] = {
      {"  /usr/bin/app   --flag\tvalue  ", Args{"/usr/bin/app", "--flag", "value"}},
      {"\"/opt/my app/run\" one", Args{"/opt/my app/run", "one"}},
      {"app \"a \\\"quoted\\\" word\"", Args{"app", "a \"quoted\" word"}},
      {"app \"\\$HOME \\`x\\` back\\\\slash\"", Args{"app", "$HOME `x` back\\slash"}},
      {"app \"\"", Args{"app", ""}},                               // an empty quoted argument stays
      {"app --opt=\"a b\"c", Args{"app", "--opt=a bc"}},           // quotes inside a word join it
      {"app %f %F %u %U %i %c %k %d %m --x", Args{"app", "--x"}},  // arguments of field codes only vanish
      {"app --file=%f", Args{"app", "--file="}},
      {"app 100%% %%u", Args{"app", "100%", "%u"}},  // "%%" is a literal percent sign
      {"app %z", Args{"app", "%z"}},                 // not a field code: kept as written
      {"app \"unclosed", std::nullopt},
      {"", std::nullopt},
      {"%U", std::nullopt},  // no program left
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.exec);
    EXPECT_EQ(execArguments(c.exec), c.args);
  }
}

TEST(DesktopEntryTest, ValuesAreUnescapedBeforeTheExecQuotingRules) {
  struct Case {
    const char* raw;
    const char* value;
  } cases[] = {
      {"a\\sb\\tc\\nd\\re", "a b\tc\nd\re"},
      {"back\\\\slash", "back\\slash"},
      {"keep \\$ and \\\"", "keep \\$ and \\\""},  // left for the Exec rules
      {"trailing\\", "trailing\\"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.raw);
    EXPECT_EQ(unescapeDesktopValue(c.raw), c.value);
  }
  // A literal backslash inside a quoted Exec argument takes four in the file.
  EXPECT_EQ(execArguments(unescapeDesktopValue("app \"a\\\\\\\\b\" \\\\$x")), (Args{"app", "a\\b", "\\$x"}));
}

TEST(DesktopEntryTest, OnlyTheDesktopEntryGroupCounts) {
  DesktopEntry entry = parseDesktopEntry(
      "# comment\n"
      "Exec=before-any-group\n"
      "[Desktop Entry]\r\n"
      "Type = Application\n"
      "Exec[de]=localised\n"
      "Exec =  run\\sme --login  \n"
      "Exec=second\n"
      "Path=/srv/work\n"
      "Hidden=true\n"
      "[Desktop Action new]\n"
      "Exec=action\n");
  EXPECT_EQ(entry.type, "Application");
  EXPECT_EQ(entry.exec, "run me --login");
  EXPECT_EQ(entry.path, "/srv/work");
  EXPECT_TRUE(entry.hidden);

  DesktopEntry other = parseDesktopEntry("[Other]\nExec=x\n[Desktop Entry]\nHidden=false\nPath=\n");
  EXPECT_EQ(other.exec, "");
  EXPECT_FALSE(other.path.has_value());
  EXPECT_FALSE(other.hidden);
}

}  // namespace
}  // namespace davfp::platform
