// URLs: parsed and checked strictly, percent-decoded only to UTF-8, and what the transport does with them:
// the origin and user they name, messages without their password, and where a redirect may lead. And the
// paths on the server that they address: parents, joins, and what lies under a folder.
#include "platform/http_urls.h"
#include "platform/server_path.h"
#include "platform/url.h"

#include <gtest/gtest.h>

namespace davfp::platform {
namespace {

TEST(UrlTest, ParsesComponents) {
  struct Case {
    const char* text;
    const char* scheme;
    std::optional<std::string> user, password;
    const char* host;
    const char* origin;
    const char* path;
    std::optional<std::string> query, fragment;
  } cases[] = {
      {"http://example.com/dav/", "http", {}, {}, "example.com", "http://example.com:80", "/dav/", {}, {}},
      {"HTTPS://Host:8443", "https", {}, {}, "Host", "https://host:8443", "", {}, {}},
      {"http://u:p%40ss@h:80/a%20b?x=1&y=/?#f/?", "http", "u", "p%40ss", "h", "http://h:80", "/a%20b",
       "x=1&y=/?", "f/?"},
      {"http://h:/p", "http", {}, {}, "h", "http://h:80", "/p", {}, {}},  // empty port: the default
      {"http://[::1]:8080/x/../y", "http", {}, {}, "[::1]", "http://[::1]:8080", "/x/../y", {}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    auto url = Url::parse(c.text);
    ASSERT_TRUE(url);
    EXPECT_EQ(url->scheme(), c.scheme);
    EXPECT_EQ(url->user(), c.user);
    EXPECT_EQ(url->password(), c.password);
    EXPECT_EQ(url->host(), c.host);
    EXPECT_EQ(url->origin(), c.origin);
    EXPECT_EQ(url->path(), c.path);
    EXPECT_EQ(url->query(), c.query);
    EXPECT_EQ(url->fragment(), c.fragment);
    EXPECT_EQ(Url::parse(url->absoluteString())->absoluteString(), url->absoluteString());
  }
  EXPECT_EQ(Url::parse("http://u:p@h:81/a?q#f")->withoutCredentials(), "http://h:81/a?q#f");
  EXPECT_EQ(Url::parse("http://u:p@h:81/a?q#f")->absoluteString(), "http://u:p@h:81/a?q#f");
}

TEST(UrlTest, RejectsInvalidUrls) {
  // clang-format off
  const char* cases[] = {
      // Characters never allowed: spaces, control characters, DEL, raw UTF-8, and "<>\"{}|\\^`".
      "http://h/a b", "http://h/a\tb", "http://h/a\x7f", "http://h/caf\xc3\xa9", "http://h/a<b>", "http://h/{x}",
      "http://h/a\\b", "http://h/a^b",
      // Malformed escapes.
      "http://h/%", "http://h/%zz", "http://h/%%41", "http://h/%4", "http://h/%4g/",
      // Bad ports.
      "http://h:65536/", "http://h:99999999999999999999/", "http://h:-1/", "http://h:80:81/",
      // Bad hosts and IPv6 literals; no host at all.
      "http://a@b@c/", "http://[::1/", "http://[::1]x/", "http://[1:2:3:4:5:6:7:8:9]/", "http://[1::2::3]/",
      "http://[::ffff:256.0.0.1]/", "http://[g::]/", "http:///x", "http:/x",
      // An escaped host: decoded, "254.0" would be written out and read back as the address 254.0.0.0.
      "http://254%2E0/", "http://u@h%41:81/",
      // Delimiters out of place, bad schemes, relative references.
      "http://h/#a#b", "http://h/[x]", "1http://h/", ":x", "ht%74p://h/", "/dav/x", "//h/x", "",
  };
  // clang-format on
  for (const char* text : cases) {
    SCOPED_TRACE(text);
    EXPECT_FALSE(Url::parse(text));
  }
  EXPECT_FALSE(Url::parse(std::string_view("http://h/a\0b", 12)));
  EXPECT_TRUE(Url::parse("http://h/a b", Url::Syntax::asSent) == std::nullopt);  // libcurl refuses spaces too
  EXPECT_TRUE(Url::parse("http://h/{x}", Url::Syntax::asSent));
}

TEST(UrlTest, PercentDecodesOnlyWellFormedUtf8) {
  struct Case {
    std::string_view in;
    std::optional<std::string> out;
  } cases[] = {
      {"a%20b", "a b"},
      {"%2F%2e", "/."},
      {"%00x", std::string("\0x", 2)},
      {"caf\xc3\xa9", "caf\xc3\xa9"},  // raw UTF-8 passes
      {"%", std::nullopt},
      {"%c3", std::nullopt},        // a lone lead byte
      {"%e9", std::nullopt},        // Latin-1, not UTF-8
      {"%ed%a0%80", std::nullopt},  // an encoded surrogate
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.in);
    EXPECT_EQ(percentDecode(c.in), c.out);
  }

  EXPECT_EQ(Url::parse("http://h/a%20b/%C3%A9")->decodedPath(), "/a b/\xc3\xa9");
  EXPECT_EQ(Url::parse("http://h/a%20b/%e9")->decodedPath(), "/a%20b/%e9");
}

TEST(RedirectStepTest, FollowsWithinTheRulesAndNowhereElse) {
  auto describe = [](const std::optional<RedirectStep>& s) -> std::string {
    if (!s) return "none";
    return s->url + " " + s->method + (s->keepBody ? " body" : "") + (s->crossOrigin ? " elsewhere" : "");
  };
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
    EXPECT_EQ(describe(redirectStep(c.method, c.from, c.status, c.location)), describe(c.step));
  }
}

TEST(HttpUrlsTest, OriginsUsersAndCredentialFreeMessages) {
  EXPECT_EQ(originOf("https://u:p@h:8443/"), "https://h:8443");  // as the URL's origin, tested above
  EXPECT_EQ(originOf("not a url"), std::nullopt);
  EXPECT_EQ(userOf("http://u:p%40ss@h/"), "u:p%40ss");
  EXPECT_EQ(userOf("http://h/"), std::nullopt);
  EXPECT_EQ(withoutCredentials("Failed to connect to http://u:s3cret@h:81/x", "http://u:s3cret@h:81/x"),
            "Failed to connect to http://h:81/x");
  EXPECT_EQ(withoutCredentials("u and s3cret elsewhere", "http://u:s3cret@h/"), "u and s3cret elsewhere");
}

TEST(ServerPathTest, ParentAndJoin) {
  for (auto [path, parent] : {std::pair{"/a/b", "/a"}, {"/a", "/"}, {"/", "/"}, {"a/b", "a"}, {"/a/b/", "/a/b"}}) {
    EXPECT_EQ(parentPath(path), parent) << path;
  }
  EXPECT_EQ(join("/", "a"), "/a");
  EXPECT_EQ(join("/a", "b"), "/a/b");
  EXPECT_EQ(join("/a", "b/c"), "/a/b/c");  // the name goes in verbatim
}

TEST(ServerPathTest, UnderComparesWholeComponentsCanonically) {
  struct Case {
    const char* path;
    const char* folder;
    bool under;
  } cases[] = {
      {"/a", "/a", true},
      {"/a/x", "/a", true},
      {"/ab", "/a", false},
      {"/anything", "/", true},
      {"/", "/", true},
      {"/caf\u00e9/x", "/cafe\u0301", true},  // composed under decomposed
      {"/cafe", "/caf\u00e9", false},
      {"/e\u0301/x", "/e", false},  // an accent is part of the character, not a new component
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.path) + " under " + c.folder);
    EXPECT_EQ(isUnder(c.path, c.folder), c.under);
  }
  EXPECT_TRUE(isUnderAny("/b/c", {"/a", "/b"}));
  EXPECT_FALSE(isUnderAny("/bc", {"/a", "/b"}));
  EXPECT_FALSE(isUnderAny("/a", {}));
}

}  // namespace
}  // namespace davfp::platform
