// What a terminal gets of a server's names: every control, NUL, stray byte and direction control as an
// escape, ordinary text of every script as it is.
#include "host/visible_text.h"

#include <gtest/gtest.h>

namespace davfp::cli {
namespace {

using namespace std::string_literals;

TEST(VisibleTextTest, ControlsStrayBytesAndDirectionControlsAreEscapes) {
  struct Case {
    std::string text, shown;
  } cases[] = {
      {"Grüße – 日本語 🎉.txt", "Grüße – 日本語 🎉.txt"},
      {"👨\u200D👩\u200D👧 ZWJ sequence", "👨\u200D👩\u200D👧 ZWJ sequence"},  // joiners within a letter
      {"\x1b[2Jclear", "\\033[2Jclear"},
      {"\x1b]0;title\x07", "\\033]0;title\\a"},
      {"line\nforged", "line\\nforged"},
      {"nul\0hidden"s, "nul\\000hidden"},
      {"\x01\x1f\x7f", "\\001\\037\\177"},
      {"back\\slash \\033", "back\\\\slash \\\\033"},  // never mistaken for an escape
      {"c1 csi \u009B2J nel \u0085", "c1 csi \\302\\2332J nel \\302\\205"},
      {"\xC2\xA0nbsp", "\xC2\xA0nbsp"},  // the first character after C1
      {"evil\u202Etxt.exe", "evil\\342\\200\\256txt.exe"},
      {"\u2066isolate\u2069 \u200Emark\u200F \u061Calm",
       "\\342\\201\\246isolate\\342\\201\\251 "
       "\\342\\200\\216mark\\342\\200\\217 \\330\\234alm"},
      {"para\u2028line\u2029", "para\\342\\200\\250line\\342\\200\\251"},
      {"bad\xFF byte", "bad\\377 byte"},
      {"truncated \xE2\x82", "truncated \\342\\202"},
      {"overlong \xC0\xAF \xE0\x80\xAF", "overlong \\300\\257 \\340\\200\\257"},
      {"surrogate \xED\xA0\x80", "surrogate \\355\\240\\200"},
      {"stray then letter \xC3\xC3\xA9", "stray then letter \\303\xC3\xA9"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.shown);
    std::string shown = visible(c.text);
    EXPECT_EQ(shown, c.shown);
    for (unsigned char b : shown) EXPECT_TRUE(b >= 0x20 && b != 0x7F) << static_cast<int>(b);
  }
}

}  // namespace
}  // namespace davfp::cli
