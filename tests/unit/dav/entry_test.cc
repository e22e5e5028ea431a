// A listing entry's values: the version made of its entity tag or size and date, versions compared, and the
// dates of HTTP that give its modification time.
#include "dav/entry.h"
#include "dav/http_date.h"

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

TEST(HttpDateTest, ParsesTheFixedFormAndRejectsEveryOther) {
  struct Case {
    const char* text;
    std::optional<long long> epochSeconds;  // none: rejected
  } cases[] = {
      {"Sun, 06 Nov 1994 08:49:37 GMT", 784111777},
      {"Tue, 29 Feb 2000 12:00:00 GMT", 951825600},  // a leap year by the 400 rule
      {"sun, 06 nov 1994 08:49:37 gmt", 784111777},  // names compared without regard to case
      {"Mon, 06 Nov 1994 08:49:37 GMT", 784111777},  // the day name does not decide the date
      {"Sun, 6 Nov 1994 8:49:37 GMT", 784111777},    // single-digit fields
      {"Sun, 06 Nov 1994 10:49:37 GMT+02:00", 784111777},
      {"1994-11-06T08:49:37Z", {}},            // ISO 8601
      {"Sunday, 06-Nov-94 08:49:37 GMT", {}},  // RFC 850
      {"Sun, 06 Nov 1994 08:49:37", {}},       // no zone
      {"Sun, 06 Nov 1994 08:49:37 GMT+24:00", {}},
      {"Sun, 06 Nov 1994 08:49:37 GMT ", {}},  // trailing text
      {"Sun, 00 Nov 1994 08:49:37 GMT", {}},  // out-of-range fields
      {"Thu, 29 Feb 1900 08:49:37 GMT", {}},  // not a leap year
      {"Sun, 06 Nov 1994 24:00:00 GMT", {}},
      {"Sun, 06 Nov 1000 08:49:37 GMT", {}},  // outside what the time point holds
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const auto parsed = parseHttpDate(c.text);
    EXPECT_EQ(parsed, c.epochSeconds ? std::optional(at(*c.epochSeconds * 1000)) : std::nullopt);
  }
}

}  // namespace
}  // namespace davfp
