// What the program prints: JSON items for scripts, sizes and the progress line for people, and what a
// terminal gets of a server's names: every control, NUL, stray byte and direction control as an escape,
// ordinary text of every script as it is. The rest of its output is checked end to end.
#include <gtest/gtest.h>

#include "client/template_item.h"
#include "host/human_output.h"
#include "host/json_output.h"
#include "host/progress_bar.h"
#include "host/visible_text.h"

namespace davfp::cli {
namespace {

using client::TemplateItem;
using namespace std::chrono;
using namespace std::string_literals;

// Scripts find items by path: the root is "/", an item in the root tells its path by itself, others only
// when the command knows where it found them. Dates are whole seconds, rounded down also before 1970.
TEST(JsonOutputTest, ItemsCarryTheirPathWhereKnownAndDatesInRfc3339Utc) {
  const std::string root = platform::kRootContainerItemIdentifier;
  EXPECT_EQ(itemJson(TemplateItem({.identifier = root, .parent = root, .filename = "Drive"}))["path"], "/");
  EXPECT_EQ(itemJson(TemplateItem({.identifier = "7", .parent = root, .filename = "Reports"}))["path"],
            "/Reports");
  TemplateItem deep({.identifier = "8", .parent = "7", .filename = "q1.pdf"});
  EXPECT_TRUE(itemJson(deep)["path"].is_null());
  EXPECT_EQ(itemJson(deep, "/Reports/q1.pdf")["path"], "/Reports/q1.pdf");
  // The fast writer that listings use prints exactly what the JSON library prints, also for odd text.
  TemplateItem odd(
      {.identifier = "I\xff", .parent = "P", .filename = "q\"\\\t\x01\x7f é bad\xff", .documentSize = -5});
  std::string line;
  appendItemLine(line, odd, "/a b/\"q\"\xff");
  EXPECT_EQ(line, jsonLine(itemJson(odd, "/a b/\"q\"\xff")));
  EXPECT_EQ(rfc3339(platform::Date{}), "1970-01-01T00:00:00Z");
  EXPECT_EQ(rfc3339(sys_days{1969y / 12 / 31} + 23h + 59min + 59s + 500ms), "1969-12-31T23:59:59Z");
}

TEST(HumanOutputTest, SizesAndTheProgressLine) {
  // As ls -h: rounded up, a decimal below ten.
  EXPECT_EQ(compactSize(1025), "1.1K");
  EXPECT_EQ(compactSize(10 * 1024 - 1), "10K");
  EXPECT_EQ(compactSize(1024 * 1024 - 1), "1.0M");
  // The rate since the start, and the time the rest takes at that rate.
  EXPECT_EQ(progressLine("big", 15 << 20, 60 << 20, 4, 6s),
            "big [#   ] 25% 15.0 MiB / 60.0 MiB  2.5 MiB/s  0:18 left");
  // More than the total (a file that grew on the server) never overflows the bar.
  EXPECT_EQ(progressLine("f", 4096, 1024, 4, 1s), "f [####] 100% 1.0 KiB / 1.0 KiB  4.0 KiB/s  0:00 left");
  EXPECT_EQ(progressLine("f", 0, 0, 10, 1s), "f 0 B");
  // Names are shown as listings show them.
  EXPECT_EQ(progressLine("a\nb\x1b[2J", 5, std::nullopt, 10, 0ms), "a\\nb\\033[2J 5 B");
}

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
