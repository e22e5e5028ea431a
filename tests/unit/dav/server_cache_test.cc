// The server cache's rule for a stale URL. Its sharing of one resolution among concurrent callers, also when
// a caller is cancelled, is tested through Dav (dav_test.cc).
#include "dav/server_cache.h"

#include <gtest/gtest.h>

namespace davfp {
namespace {

TEST(ServerCacheTest, ReplacesOnlyTheURLThatIsReportedStale) {
  ServerCache cache;
  int runs = 0;
  auto resolving = [&runs](std::string url) -> ServerCache::Resolve {
    return [url, &runs] {
      ++runs;
      return url;
    };
  };
  EXPECT_EQ(cache.get(std::nullopt, resolving("http://a/")), "http://a/");
  struct Case {
    const char* what;
    std::optional<std::string> stale;
    std::string resolves;
    std::string expected;
    int runs;
  } cases[] = {
      {"no stale URL", std::nullopt, "http://x/", "http://a/", 0},
      {"another URL is stale", "http://old/", "http://x/", "http://a/", 0},
      {"the cached URL is stale", "http://a/", "http://b/", "http://b/", 1},
      // A caller that still holds the URL another caller has replaced gets the new one without a resolution.
      {"already replaced", "http://a/", "http://x/", "http://b/", 0},
      {"differs only by a trailing slash", "http://b", "http://x/", "http://b/", 0},
      // Resolution may find the very same URL again; reporting it stale once more resolves once more.
      {"the same URL resolved again", "http://b/", "http://b/", "http://b/", 1},
      {"and again", "http://b/", "http://c/", "http://c/", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    runs = 0;
    EXPECT_EQ(cache.get(c.stale, resolving(c.resolves)), c.expected);
    EXPECT_EQ(runs, c.runs);
  }
}

}  // namespace
}  // namespace davfp
