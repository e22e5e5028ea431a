#include "platform/mime_globs.h"

#include <gtest/gtest.h>

#include "support/temp_dir.h"

namespace davfp::platform {
namespace {

using davfp::testing::TempDir;
using davfp::testing::writeFile;

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
