// What the program prints: JSON items and errors for scripts, listings and messages for people.
#include <gtest/gtest.h>

#include "host/failure.h"
#include "host/human_output.h"
#include "host/json_output.h"
#include "host/progress_bar.h"
#include "host/transfer_job.h"
#include "host/tree_commands.h"
#include "client/template_item.h"

namespace davfp::cli {
namespace {

using client::TemplateItem;

using namespace std::chrono;

platform::ItemRef item(std::string name, std::optional<int64_t> size, bool folder = false,
                       std::optional<platform::Date> modified = std::nullopt) {
  TemplateItem::Properties p{.identifier = "id-" + name, .parent = "p", .filename = name};
  if (folder) p.contentType = "inode/directory";
  p.documentSize = size;
  p.contentModificationDate = modified;
  return std::make_shared<TemplateItem>(p);
}

TEST(JsonOutputTest, ItemsCarryEveryProperty) {
  TemplateItem::Properties p{.identifier = "I",
                             .parent = "P",
                             .filename = "Grüße.txt",
                             .contentType = "text/plain",
                             .documentSize = 12,
                             .contentModificationDate = sys_days{2024y / 2 / 29} + 23h + 59min + 58s + 999ms,
                             .version = {"etag", std::string("meta\0data", 9)},
                             .capabilities = 47};
  EXPECT_EQ(jsonLine(itemJson(TemplateItem(p))),
            "{\"id\":\"I\",\"parent\":\"P\",\"name\":\"Grüße.txt\",\"type\":\"text/plain\",\"size\":12,"
            "\"modified\":\"2024-02-29T23:59:58Z\",\"contentVersion\":\"etag\",\"metadataVersion\":"
            "\"meta\\u0000data\",\"capabilities\":47,\"capabilityNames\":[\"reading\",\"writing\","
            "\"reparenting\",\"renaming\",\"deleting\"],\"path\":null}\n");
  // A server's name that is not UTF-8 still gives one line of valid JSON.
  TemplateItem odd({.identifier = "I", .parent = "P", .filename = "bad\xff name"});
  EXPECT_NE(jsonLine(itemJson(odd)).find("\"name\":\"bad\xEF\xBF\xBD name\""), std::string::npos);
}

// The fast writer that listings use prints exactly what the JSON library prints.
TEST(JsonOutputTest, ItemLinesMatchTheLibrarysText) {
  const std::vector<TemplateItem::Properties> cases = {
      {.identifier = "I", .parent = "P", .filename = "x"},
      {.identifier = "I",
       .parent = "P",
       .filename = "q\"uote\\back\tslash\b\f\n\r\x01\x1f\x7f é",
       .contentType = "text/plain",
       .documentSize = -5,
       .contentModificationDate = sys_days{1969y / 12 / 31} + 23h + 59min + 59s,
       .version = {"W/\"e\"", std::string("meta\0data", 9)},
       .capabilities = 47},
      {.identifier = "I\xff", .parent = "P", .filename = "bad\xff name\xc3", .documentSize = 0},
  };
  for (const auto& p : cases) {
    SCOPED_TRACE(p.filename);
    TemplateItem item(p);
    std::string line;
    appendItemLine(line, item);
    EXPECT_EQ(line, jsonLine(itemJson(item)));
    for (const std::string path : {"/", "/a b/\"q\"\xff", ""}) {
      line.clear();
      appendItemLine(line, item, path);
      EXPECT_EQ(line, jsonLine(itemJson(item, path)));
    }
  }
}

// Scripts find items by path: the root is "/", an item in the root tells its path by itself, others only
// when the command knows where it found them.
TEST(JsonOutputTest, ItemsCarryTheirPathWhereKnownAndTheirCapabilitiesByName) {
  const std::string root = platform::kRootContainerItemIdentifier;
  TemplateItem rootItem({.identifier = root, .parent = root, .filename = "Drive"});
  TemplateItem top({.identifier = "7", .parent = root, .filename = "Reports"});
  TemplateItem deep({.identifier = "8", .parent = "7", .filename = "q1.pdf"});
  EXPECT_EQ(itemJson(rootItem)["path"], "/");
  EXPECT_EQ(itemJson(top)["path"], "/Reports");
  EXPECT_TRUE(itemJson(deep)["path"].is_null());
  EXPECT_EQ(itemJson(deep, "/Reports/q1.pdf")["path"], "/Reports/q1.pdf");
  EXPECT_EQ(childPath("/", "a"), "/a");
  EXPECT_EQ(childPath("/Reports", "q1.pdf"), "/Reports/q1.pdf");
  namespace cap = platform::capability;
  EXPECT_EQ(capabilityNames(cap::kReading | cap::kTrashing | 1024),
            (std::vector<std::string>{"reading", "trashing"}));
}

TEST(JsonOutputTest, DatesInRfc3339Utc) {
  struct Case {
    platform::Date date;
    const char* text;
  } cases[] = {
      {platform::Date{}, "1970-01-01T00:00:00Z"},
      {sys_days{2038y / 1 / 19} + 3h + 14min + 8s, "2038-01-19T03:14:08Z"},
      {sys_days{1969y / 12 / 31} + 23h + 59min + 59s + 500ms, "1969-12-31T23:59:59Z"},
  };
  for (const auto& c : cases) EXPECT_EQ(rfc3339(c.date), c.text);
}

TEST(JsonOutputTest, ErrorsSayWhatTheyMean) {
  EXPECT_EQ(jsonLine(errorJson(platform::Error(platform::kFileProviderErrorDomain, -1005))),
            "{\"error\":{\"domain\":\"NSFileProviderErrorDomain\",\"code\":-1005,"
            "\"message\":\"no such item on the server\"}}\n");
  Failure f{"/a b", platform::Error(platform::kFileProviderErrorDomain, -1007), "use -r"};
  EXPECT_EQ(humanMessage(f, false),
            "davfp: /a b: the folder is not empty, or something in it could not be deleted; use -r");
  EXPECT_EQ(humanMessage(f, true),
            "davfp: /a b: the folder is not empty, or something in it could not be deleted "
            "(NSFileProviderErrorDomain -1007); use -r");
  // An error's own text wins over the generic one.
  EXPECT_EQ(describe(platform::Error(platform::kFileProviderErrorDomain, -1004, "no drive \"d\"")),
            "no drive \"d\"");
  EXPECT_EQ(describe(platform::Error("SomeDomain", 1)), "failed");
}

TEST(HumanOutputTest, ListingsAlignTheirColumns) {
  auto when = sys_days{2024y / 5 / 1} + 14h + 3min;
  std::vector<platform::ItemRef> items{item("docs", std::nullopt, true, when),
                                       item("big.bin", 3145728, false, when), item("tiny", 5),
                                       item("Ärger", 12, false, when)};
  EXPECT_EQ(shortListing(items), "docs/\nbig.bin\ntiny\nÄrger\n");
  ::setenv("TZ", "UTC", 1);
  ::tzset();
  EXPECT_EQ(longListing(items),
            "d        -  2024-05-01 14:03  docs/\n"
            "-  3145728  2024-05-01 14:03  big.bin\n"
            "-        5  -                 tiny\n"
            "-       12  2024-05-01 14:03  Ärger\n");
  EXPECT_EQ(longListing(items, true),
            "d     -  2024-05-01 14:03  docs/\n"
            "-  3.0M  2024-05-01 14:03  big.bin\n"
            "-     5  -                 tiny\n"
            "-    12  2024-05-01 14:03  Ärger\n");
  // As ls -h: rounded up, a decimal below ten.
  EXPECT_EQ(compactSize(1023), "1023");
  EXPECT_EQ(compactSize(1025), "1.1K");
  EXPECT_EQ(compactSize(10 * 1024 - 1), "10K");
  EXPECT_EQ(compactSize(1024 * 1024 - 1), "1.0M");
}

TEST(HumanOutputTest, ByteCountsAndTheProgressLine) {
  EXPECT_EQ(humanBytes(1023), "1023 B");
  EXPECT_EQ(humanBytes(3 * 1024 * 1024 + 512 * 1024), "3.5 MiB");
  // Before anything moved there is no rate to show.
  EXPECT_EQ(progressLine("f", 0, 1024, 10, 2s), "f [          ] 0% 0 B / 1.0 KiB");
  // The rate since the start, and the time the rest takes at that rate.
  EXPECT_EQ(progressLine("f", 512, 1024, 10, 1s), "f [#####     ] 50% 512 B / 1.0 KiB  512 B/s  0:01 left");
  EXPECT_EQ(progressLine("big", 15 << 20, 60 << 20, 4, 6s),
            "big [#   ] 25% 15.0 MiB / 60.0 MiB  2.5 MiB/s  0:18 left");
  // More than the total (a file that grew on the server) never overflows the bar.
  EXPECT_EQ(progressLine("f", 4096, 1024, 4, 1s), "f [####] 100% 1.0 KiB / 1.0 KiB  4.0 KiB/s  0:00 left");
  EXPECT_EQ(progressLine("f", 2048, std::nullopt, 10, 2s), "f 2.0 KiB  1.0 KiB/s");
  EXPECT_EQ(progressLine("f", 0, 0, 10, 1s), "f 0 B");
  EXPECT_EQ(progressSummary("big", 60 << 20, 12s), "big 60.0 MiB in 0:12, 5.0 MiB/s");
  EXPECT_EQ(clockDuration(3723s), "1:02:03");
  // Names are shown as listings show them.
  EXPECT_EQ(progressLine("a\nb\x1b[2J", 5, std::nullopt, 10, 0ms), "a\\nb\\033[2J 5 B");
}

TEST(HumanOutputTest, TransferSummariesAndTreeCounts) {
  EXPECT_EQ(transferSummary(1, 512, 400ms, 0), "1 file, 512 B in 0.4 s");
  EXPECT_EQ(transferSummary(3, 0, 75s, 2), "3 files, 0 B in 1:15; 2 failed");
  EXPECT_EQ(treeCounts(1, 1), "1 folder, 1 file");
  EXPECT_EQ(treeCounts(0, 3), "0 folders, 3 files");
}

}  // namespace
}  // namespace davfp::cli
