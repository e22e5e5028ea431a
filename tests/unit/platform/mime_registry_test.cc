#include "platform/mime_registry.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/mime_globs.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace davfp::platform {
namespace {

using davfp::testing::ScopedEnv;
using davfp::testing::TempDir;
using davfp::testing::writeFile;

// The shared-mime-info database installed on this machine.
TEST(MimeRegistryTest, InstalledDatabaseKnowsCommonTypes) {
  struct Case {
    const char* extension;
    std::optional<std::string> type;
  } cases[] = {
      {"pdf", "application/pdf"}, {"png", "image/png"},
      {"PDF", "application/pdf"},  // case-insensitive glob
      {"c", "text/x-csrc"},        // "*.c" and "*.C" are case-sensitive globs of different types
      {"C", "text/x-c++src"},     {"davfp-unknown", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.extension);
    EXPECT_EQ(mimeTypeForExtension(c.extension), c.type);
  }
}

TEST(MimeGlobsTest, TheUsersDatabaseComesBeforeTheSystems) {
  TempDir tmp;
  std::filesystem::create_directories(tmp.file("home/mime"));
  writeFile(tmp.file("home/mime/globs2"),
            "50:application/x-davfp-own:*.davfpown\n"
            "60:application/x-davfp-pdf:*.pdf\n");
  ScopedEnv env;
  env.set("XDG_DATA_HOME", tmp.file("home"));
  env.set("XDG_DATA_DIRS", tmp.file("none") + ":/usr/share");
  EXPECT_EQ(installedGlobs2Files(),
            (std::vector<std::string>{tmp.file("home/mime/globs2"), tmp.file("none/mime/globs2"),
                                      "/usr/share/mime/globs2"}));
  MimeGlobs globs = MimeGlobs::load(installedGlobs2Files());
  EXPECT_EQ(globs.typeFor("davfpown"), "application/x-davfp-own");
  EXPECT_EQ(globs.typeFor("pdf"), "application/x-davfp-pdf");  // outweighs the system's 50
  EXPECT_EQ(globs.typeFor("txt"), "text/plain");
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
            "80:text/x-weighty:*.heavy\n"
            "10:text/x-weighty-low:*.heavy\n"
            "50:text/x-tar:*.tar.gz\n"
            "50:text/x-pattern:*.[ch]\n"
            "oops:text/x-bad:*.bad\n"
            "50:text/x-bad\n"
            "50:text/x-win:*.win\r\n");
  MimeGlobs globs = MimeGlobs::load({home, tmp.file("missing"), system});

  struct Case {
    const char* extension;
    std::optional<std::string> type;
  } cases[] = {
      // clang-format off
      {"pdf", "text/x-mine"}, {"txt", "text/plain"}, {"kept", "application/x-closed"}, {"gone", std::nullopt},
      {"heavy", "text/x-weighty"}, {"tar.gz", "text/x-tar"}, {"gz", std::nullopt}, {"bad", std::nullopt},
      {"Zz", "text/x-heavy"}, {"zz", "text/x-fold"}, {"ZZ", "text/x-fold"},  // "cs" globs match only their own case
      {"[ch]", std::nullopt}, {"*", std::nullopt},  // patterns are not simple extensions
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
