#include "platform/desktop_apps.h"

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

}  // namespace
}  // namespace davfp::platform
