#include "platform/http_urls.h"

#include <gtest/gtest.h>

namespace davfp::platform {
namespace {

TEST(RedirectStepTest, FollowsWithinTheRulesAndNowhereElse) {
  struct Case {
    const char* method;
    const char* from;
    long status;
    std::optional<std::string> location;
    std::optional<RedirectStep> step;
  } cases[] = {
      // Same origin: method and body kept; a Location without userinfo keeps the credentials of the request.
      {"PROPFIND", "http://u:p@h:8080/dav/a", 301, "b/",
       RedirectStep{"http://u:p@h:8080/dav/b/", "PROPFIND"}},
      {"PUT", "http://u:p@h:8080/dav/a", 307, "http://h:8080/x", RedirectStep{"http://u:p@h:8080/x", "PUT"}},
      {"MOVE", "http://h/a", 308, "/c?q=1#frag", RedirectStep{"http://h/c?q=1", "MOVE"}},
      {"GET", "http://h/a", 301, "/with space", RedirectStep{"http://h/with%20space", "GET"}},
      // 303 turns into a bodiless GET, except for HEAD.
      {"PUT", "http://h/a", 303, "/result", RedirectStep{"http://h/result", "GET", false}},
      {"HEAD", "http://h/a", 303, "/result", RedirectStep{"http://h/result", "HEAD"}},
      // Another origin: only reading methods, and never with credentials.
      {"GET", "http://u:p@h/a", 302, "http://other/b", RedirectStep{"http://other/b", "GET", true, true}},
      {"PUT", "http://u:p@h/a", 303, "http://other/r", RedirectStep{"http://other/r", "GET", false, true}},
      {"GET", "http://h/a", 302, "http://x:y@other/b", RedirectStep{"http://other/b", "GET", true, true}},
      {"DELETE", "http://h/a", 302, "http://other/b", std::nullopt},
      // Never down to http, never to other schemes, only the five redirect statuses, only with a Location.
      {"GET", "https://h/a", 301, "http://h/a", std::nullopt},
      {"GET", "http://h/a", 302, "file:///etc/passwd", std::nullopt},
      {"GET", "http://h/a", 304, "/b", std::nullopt},
      {"GET", "http://h/a", 302, std::nullopt, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.method) + " " + c.from + " " + std::to_string(c.status) + " -> " +
                 c.location.value_or("(none)"));
    auto step = redirectStep(c.method, c.from, c.status, c.location);
    ASSERT_EQ(step.has_value(), c.step.has_value());
    if (!step) continue;
    EXPECT_EQ(step->url, c.step->url);
    EXPECT_EQ(step->method, c.step->method);
    EXPECT_EQ(step->keepBody, c.step->keepBody);
    EXPECT_EQ(step->crossOrigin, c.step->crossOrigin);
  }
}

TEST(HttpUrlsTest, OriginsUsersAndCredentialFreeMessages) {
  EXPECT_EQ(originOf("HTTP://Example.COM/a"), "http://example.com:80");
  EXPECT_EQ(originOf("https://u:p@h:8443/"), "https://h:8443");
  EXPECT_EQ(originOf("not a url"), std::nullopt);
  EXPECT_EQ(userOf("http://u:p%40ss@h/"), "u:p%40ss");
  EXPECT_EQ(userOf("http://h/"), std::nullopt);
  EXPECT_EQ(withoutCredentials("Failed to connect to http://u:s3cret@h:81/x", "http://u:s3cret@h:81/x"),
            "Failed to connect to http://h:81/x");
  EXPECT_EQ(withoutCredentials("u and s3cret elsewhere", "http://u:s3cret@h/"), "u and s3cret elsewhere");
}

}  // namespace
}  // namespace davfp::platform
