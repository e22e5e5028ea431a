#include "platform/desktop_entry.h"

#include <gtest/gtest.h>

namespace davfp::platform {
namespace {

using Args = std::vector<std::string>;

// Values are unescaped first ("\s", "\\"), then Exec is split by its quoting rules, and field codes dropped.
TEST(DesktopEntryTest, ExecSplitsByTheQuotingRulesAndDropsFieldCodes) {
  struct Case {
    const char* exec;  // as written in the file
    std::optional<Args> args;
  } cases[] = {
      {"  /usr/bin/app   --flag\tvalue  ", Args{"/usr/bin/app", "--flag", "value"}},
      {"\"/opt/my app/run\" a\\sb \"\"", Args{"/opt/my app/run", "a", "b", ""}},
      {"app \"a \\\\\"q\\\\\" \\\\$x \\\\\\\\b\"", Args{"app", "a \"q\" $x \\b"}},
      {"app --opt=\"a b\"c", Args{"app", "--opt=a bc"}},           // quotes inside a word join it
      {"app %f %U %i --file=%u 100%% %z", Args{"app", "--file=", "100%", "%z"}},
      {"app \"unclosed", std::nullopt},
      {"%U", std::nullopt},  // no program left
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.exec);
    EXPECT_EQ(execArguments(unescapeDesktopValue(c.exec)), c.args);
  }
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

  EXPECT_FALSE(parseDesktopEntry("[Desktop Entry]\nHidden=false\nPath=\n").path.has_value());  // empty: none
}

}  // namespace
}  // namespace davfp::platform
