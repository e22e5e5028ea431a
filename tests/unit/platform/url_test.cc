#include "platform/url.h"

#include <gtest/gtest.h>

namespace davfp::platform {
namespace {

TEST(UrlTest, ParsesComponents) {
  struct Case {
    const char* text;
    const char* scheme;
    bool hasAuthority;
    std::optional<std::string> user, password;
    const char* host;
    std::optional<int> port;
    const char* path;
    std::optional<std::string> query, fragment;
  } cases[] = {
      {"http://example.com/dav/", "http", true, {}, {}, "example.com", {}, "/dav/", {}, {}},
      {"HTTPS://Host:8443", "https", true, {}, {}, "Host", 8443, "", {}, {}},
      {"http://u:p%40ss@h:80/a%20b?x=1&y=/?#f/?", "http", true, "u", "p%40ss", "h", 80, "/a%20b", "x=1&y=/?",
       "f/?"},
      {"http://user@h/", "http", true, "user", {}, "h", {}, "/", {}, {}},
      {"http://h:/p", "http", true, {}, {}, "h", {}, "/p", {}, {}},  // empty port: the default
      {"http://[::1]:8080/x", "http", true, {}, {}, "[::1]", 8080, "/x", {}, {}},
      {"http://[::ffff:192.0.2.1]/", "http", true, {}, {}, "[::ffff:192.0.2.1]", {}, "/", {}, {}},
      {"file:///etc/x", "file", true, {}, {}, "", {}, "/etc/x", {}, {}},
      {"/dav/a%c3%a9;x=1+&/", "", false, {}, {}, "", {}, "/dav/a%c3%a9;x=1+&/", {}, {}},
      {"//other/p", "", true, {}, {}, "other", {}, "/p", {}, {}},
      {"a/b:c", "", false, {}, {}, "", {}, "a/b:c", {}, {}},
      {"", "", false, {}, {}, "", {}, "", {}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    auto url = Url::parse(c.text);
    ASSERT_TRUE(url);
    EXPECT_EQ(url->scheme, c.scheme);
    EXPECT_EQ(url->hasAuthority, c.hasAuthority);
    EXPECT_EQ(url->user, c.user);
    EXPECT_EQ(url->password, c.password);
    EXPECT_EQ(url->host, c.host);
    EXPECT_EQ(url->port, c.port);
    EXPECT_EQ(url->path, c.path);
    EXPECT_EQ(url->query, c.query);
    EXPECT_EQ(url->fragment, c.fragment);
  }
}

TEST(UrlTest, RejectsInvalidReferences) {
  // clang-format off
  const char* cases[] = {
      // Characters never allowed: spaces, control characters, DEL, raw UTF-8, and "<>\"{}|\\^`".
      "http://h/a b", "http://h/a\tb", "http://h/a\x7f", "http://h/caf\xc3\xa9", "http://h/a<b>", "http://h/{x}",
      "http://h/a\\b", "http://h/a^b",
      // Malformed escapes.
      "http://h/%", "http://h/%zz", "http://h/%%41",
      // Bad ports.
      "http://h:65536/", "http://h:99999999999999999999/", "http://h:-1/", "http://h:80:81/",
      // Bad hosts and IPv6 literals.
      "http://a@b@c/", "http://[::1/", "http://[::1]x/", "http://[1:2:3:4:5:6:7:8:9]/", "http://[1::2::3]/",
      "http://[::ffff:256.0.0.1]/", "http://[g::]/",
      // Delimiters out of place, bad schemes.
      "http://h/#a#b", "http://h/[x]", "1http://h/", ":x", "ht%74p://h/",
  };
  // clang-format on
  for (const char* text : cases) {
    SCOPED_TRACE(text);
    EXPECT_FALSE(Url::parse(text));
  }
  EXPECT_FALSE(Url::parse(std::string_view("http://h/a\0b", 12)));
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

  EXPECT_EQ(Url::parse("/a%20b/%C3%A9")->decodedPath(), "/a b/\xc3\xa9");
  EXPECT_EQ(Url::parse("/a%20b/%e9")->decodedPath(), "/a%20b/%e9");
}

}  // namespace
}  // namespace davfp::platform
