#include "dav/entry.h"

#include <gtest/gtest.h>

namespace davfp {
namespace {

using std::chrono::milliseconds;
using std::chrono::system_clock;

system_clock::time_point at(long long ms) { return system_clock::time_point(milliseconds(ms)); }

TEST(DavEntryTest, VersionIsTheEtagElseSizeAndWholeSeconds) {
  struct Case {
    DavEntry entry;
    const char* version;
  } cases[] = {
      {{.path = "/a", .size = 12, .modified = at(100900), .etag = "\"abc\""}, "\"abc\""},
      {{.path = "/a", .size = 12, .modified = at(100900)}, "12-100"},
      {{.path = "/a", .size = 3, .modified = at(-500)}, "3-0"},  // half a second before 1970: 0, not -1
      {{.path = "/a", .size = 3, .modified = at(-1500)}, "3--1"},
      {{.path = "/a", .modified = at(100900)}, "0-100"},  // an unknown size counts as 0, as it always did
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.version);
    EXPECT_EQ(c.entry.version(), c.version);
  }
}

TEST(DavEntryTest, VersionsCompareWeakly) {
  EXPECT_TRUE(sameVersion("W/\"x\"", "\"x\""));
  EXPECT_TRUE(sameVersion("\"x\"", "W/\"x\""));
  EXPECT_FALSE(sameVersion("\"x\"", "\"y\""));
  EXPECT_TRUE(sameVersion("caf\u00e9", "cafe\u0301"));
}

}  // namespace
}  // namespace davfp
