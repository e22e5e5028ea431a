// What the program prints: JSON items for scripts, sizes and the progress line for people. The rest of its
// output is checked end to end.
#include <gtest/gtest.h>

#include "client/template_item.h"
#include "host/human_output.h"
#include "host/json_output.h"
#include "host/progress_bar.h"

namespace davfp::cli {
namespace {

using client::TemplateItem;

using namespace std::chrono;

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

}  // namespace
}  // namespace davfp::cli
