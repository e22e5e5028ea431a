#include "platform/desktop_apps.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <sstream>
#include <thread>

#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace davfp::platform {
namespace {

using davfp::testing::ScopedEnv;
using davfp::testing::TempDir;
using davfp::testing::writeFile;

void writeEntry(const std::string& dataDir, const std::string& name, const std::string& text) {
  std::filesystem::create_directories(dataDir + "/applications");
  writeFile(dataDir + "/applications/" + name, text);
}

// True when this process has no child left to reap (a launch must not leave a zombie behind).
bool noChildren() { return ::waitpid(-1, nullptr, WNOHANG) < 0 && errno == ECHILD; }

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
      {"not installed", home, first + ":" + second, "absent", std::nullopt},
      {"hidden deletes", home, first + ":" + second, "masked", std::nullopt},
      {"HOME fallback", std::nullopt, first, "fallback",
       user + "/.local/share/applications/fallback.desktop"},
      {"relative home ignored", "relative", first, "fallback",
       user + "/.local/share/applications/fallback.desktop"},
      {"no path escapes", home, first, "../applications/outside", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScopedEnv env;
    env.set("HOME", user);
    env.set("XDG_DATA_HOME", c.dataHome);
    env.set("XDG_DATA_DIRS", c.dataDirs);
    EXPECT_EQ(findDesktopEntry(c.bundleID), c.found);
  }
}

TEST(DesktopAppsTest, StartRunsTheExecCommandDetachedInANewSession) {
  TempDir tmp;
  const std::string dir = tmp.file("app dir");  // a blank in the program's path needs the quoting rules
  std::filesystem::create_directories(dir);
  const std::string marker = tmp.file("marker");
  const std::string program = dir + "/record args";
  // A descriptor of the caller without close-on-exec must not reach the application.
  const int inherited = ::open("/dev/null", O_RDONLY);
  ASSERT_GE(inherited, 3);
  // Records its arguments, standard streams, working directory, session and process, then renames the record
  // into place so that the test never reads half of it.
  writeFile(program,
            "#!/bin/sh\n"
            "streams=\"$(readlink /proc/$$/fd/0 /proc/$$/fd/1 /proc/$$/fd/2 | tr '\\n' ' ')$(pwd)\"\n"
            "[ -e /proc/$$/fd/" +
                std::to_string(inherited) +
                " ] && streams=\"$streams leaked\"\n"
                "stat=$(cat /proc/$$/stat)\n"
                "{ printf '%s\\n' \"$@\" \"$streams\"; set -- ${stat##*) }; echo \"$4 $$\"; } > '" +
                marker + ".tmp' && mv '" + marker + ".tmp' '" + marker + "'\n");
  ASSERT_EQ(::chmod(program.c_str(), 0755), 0);
  const std::string entry = tmp.file("org.example.app.desktop");
  writeFile(entry, "[Desktop Entry]\nType=Application\nExec=\"" + dir +
                       "/record\\sargs\" first %U \"say \\\\\"hi\\\\\"\"\n");

  ASSERT_TRUE(noChildren());
  startDesktopEntry(entry, {"--login", "two words"});
  EXPECT_TRUE(noChildren());
  ::close(inherited);

  // The application runs on its own; wait for its record, bounded.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!davfp::testing::fileExists(marker) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ASSERT_TRUE(davfp::testing::fileExists(marker)) << "the application did not run";
  std::istringstream record(davfp::testing::readFile(marker));
  std::vector<std::string> lines;
  for (std::string line; std::getline(record, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(std::vector(lines.begin(), lines.begin() + 5),
            (std::vector<std::string>{"first", "say \"hi\"", "--login", "two words",
                                      "/dev/null /dev/null /dev/null /"}));
  long sid = 0, pid = 0;
  std::istringstream(lines[5]) >> sid >> pid;
  EXPECT_NE(sid, static_cast<long>(::getsid(0)));
  EXPECT_NE(sid, pid) << "the application leads its session and could take a terminal";
}

TEST(DesktopAppsTest, EntriesThatCannotStartAreDroppedSilently) {
  TempDir tmp;
  struct Case {
    const char* name;
    const char* text;  // none: the entry file does not exist
  } cases[] = {
      {"missing file", nullptr},
      {"no exec", "[Desktop Entry]\nType=Application\n"},
      {"program not found", "[Desktop Entry]\nExec=davfp-no-such-program --x\n"},
      {"not an application", "[Desktop Entry]\nType=Link\nExec=/bin/true\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = tmp.file(std::string(c.name) + ".desktop");
    if (c.text != nullptr) writeFile(path, c.text);
    EXPECT_NO_THROW(startDesktopEntry(path, {"--login"}));
    EXPECT_TRUE(noChildren());
  }
}

}  // namespace
}  // namespace davfp::platform
