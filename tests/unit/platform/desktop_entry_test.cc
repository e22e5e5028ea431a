// The desktop's own files: desktop entries, found by the application's identifier in the data directories,
// read and their Exec split into arguments, and the MIME globs that give a file's type by its extension.
#include "platform/desktop_apps.h"
#include "platform/desktop_entry.h"
#include "platform/mime_globs.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "support/temp_dir.h"

namespace davfp::platform {
namespace {

using davfp::testing::TempDir;
using davfp::testing::writeFile;
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

void writeEntry(const std::string& dataDir, const std::string& name, const std::string& text) {
  std::filesystem::create_directories(dataDir + "/applications");
  writeFile(dataDir + "/applications/" + name, text);
}

TEST(DesktopAppsTest, EntryIsFoundInTheDataHomeFirstThenInTheDataDirsInOrder) {
  TempDir tmp;
  const std::string home = tmp.file("home"), first = tmp.file("first"), second = tmp.file("second"),
                    user = tmp.file("user");
  const std::string app = "[Desktop Entry]\nType=Application\nExec=true\n";
  writeEntry(home, "both.desktop", app);
  writeEntry(first, "both.desktop", app);
  writeEntry(second, "system.desktop", app);
  writeEntry(first, "masked.desktop", app);
  writeEntry(home, "masked.desktop", app + "Hidden=true\n");
  writeEntry(second, "masked.desktop", app);
  writeEntry(user + "/.local/share", "fallback.desktop", app);
  writeEntry(home, "outside.desktop", app);  // reachable only through "../"

  struct Case {
    const char* name;
    std::optional<std::string> dataHome;
    std::optional<std::string> dataDirs;
    std::string bundleID;
    std::optional<std::string> found;
  } cases[] = {
      {"home wins", home, first + ":" + second, "both", home + "/applications/both.desktop"},
      {"later data dir", home, first + ":" + second, "system", second + "/applications/system.desktop"},
      {"hidden deletes", home, first + ":" + second, "masked", std::nullopt},
      {"HOME fallback", std::nullopt, first, "fallback",
       user + "/.local/share/applications/fallback.desktop"},
      {"relative home ignored", "relative", first, "fallback",
       user + "/.local/share/applications/fallback.desktop"},
      {"no path escapes", home, first, "../applications/outside", std::nullopt},
  };
  // Sets a variable, or removes it for none. What the cases set is put back as it was afterwards.
  const auto set = [](const char* name, const std::optional<std::string>& value) {
    value ? ::setenv(name, value->c_str(), 1) : ::unsetenv(name);
  };
  std::vector<std::pair<const char*, std::optional<std::string>>> saved;
  for (const char* name : {"HOME", "XDG_DATA_HOME", "XDG_DATA_DIRS"}) {
    const char* value = std::getenv(name);
    saved.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
  }
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    set("HOME", user);
    set("XDG_DATA_HOME", c.dataHome);
    set("XDG_DATA_DIRS", c.dataDirs);
    EXPECT_EQ(findDesktopEntry(c.bundleID), c.found);
  }
  for (const auto& [name, value] : saved) set(name, value);
}

TEST(MimeGlobsTest, FilesAreReadInOrderOfImportance) {
  TempDir tmp;
  const std::string home = tmp.file("home-globs2"), system = tmp.file("system-globs2");
  writeFile(home,
            "# user overrides\n"
            "50:text/x-mine:*.pdf\n"   // same weight as the system's: the user's comes first
            "40:text/x-light:*.txt\n"  // lighter than the system's: loses
            "50:application/x-closed:__NOGLOBS__\n"
            "50:application/x-closed:*.kept\n"  // the closing file's own globs still count
            "60:text/x-heavy:*.Zz:cs\n"
            "50:text/x-fold:*.zz\n"
            "\r\n");
  writeFile(system,
            "50:application/pdf:*.pdf\n"
            "50:text/plain:*.txt\n"
            "50:application/x-closed:*.gone\n"
            "50:text/x-other:*.kept\n"
            "oops:text/x-bad:*.bad\n"
            "50:text/x-win:*.win\r\n");
  MimeGlobs globs = MimeGlobs::load({home, tmp.file("missing"), system});

  struct Case {
    const char* extension;
    std::optional<std::string> type;
  } cases[] = {
      // clang-format off
      {"pdf", "text/x-mine"}, {"txt", "text/plain"}, {"kept", "application/x-closed"}, {"gone", std::nullopt},
      {"bad", std::nullopt},
      {"Zz", "text/x-heavy"}, {"zz", "text/x-fold"}, {"ZZ", "text/x-fold"},  // "cs" globs match only their own case
      {"win", "text/x-win"},  // CRLF line ends
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.extension);
    EXPECT_EQ(globs.typeFor(c.extension), c.type);
  }
}

}  // namespace
}  // namespace davfp::platform
