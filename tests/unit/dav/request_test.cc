#include "dav/dav_error.h"
#include "dav/request.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "support/dav_test_util.h"

namespace davfp {
namespace {

using testing::davErrorOf;

// Each component is encoded on the base; dot segments, empty components and bases that would swallow the path
// are refused as a bad request, for a file and for a folder alike.
TEST(RequestUrlTest, EncodesEachComponentOnTheBaseOrRefusesThePath) {
  struct Case {
    const char* path;
    const char* base;
    bool collection;
    const char* url;  // none: refused
  } cases[] = {
      {"/", "http://h/dav", false, "http://h/dav/"},
      {"/docs", "http://h/dav", true, "http://h/dav/docs/"},
      {"/a b/c#1;x?y", "http://h/", false, "http://h/a%20b/c%231%3Bx%3Fy"},
      {"/100%/%41", "http://h/", false, "http://h/100%25/%2541"},
      {"/caf\xc3\xa9/cafe\xcc\x81", "http://h/", false, "http://h/caf%C3%A9/cafe%CC%81"},
      {"/a+b&c=d,e!$'()*:@~_-.x", "http://h/", false, "http://h/a+b&c=d,e!$'()*:@~_-.x"},
      {"/[x]{y}|\"<>\\^`", "http://h/", false, "http://h/%5Bx%5D%7By%7D%7C%22%3C%3E%5C%5E%60"},
      {"/a", "http://u:p@[::1]:81/dav%20x", false, "http://u:p@[::1]:81/dav%20x/a"},
      {"/..", "http://h/dav/", false, nullptr},
      {"/x/../../etc/passwd", "http://h/dav/", true, nullptr},
      // Empty components too: "//" would address the root and "/a/" the folder a, not what the paths name.
      {"//", "http://h/dav/", false, nullptr},
      {"/a", "http://h/da v", true, nullptr},  // no URL at all
      // A query or fragment would take in the path, and every request would address the base itself.
      {"/a", "http://h/dav/?t=1", false, nullptr},
      {"/a", "http://h/dav#", true, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.path) + " on " + c.base);
    if (c.url) {
      EXPECT_EQ(requestUrl(c.path, c.base, c.collection), c.url);
    } else {
      EXPECT_EQ(davErrorOf([&] { requestUrl(c.path, c.base, c.collection); }), DavError::status(400));
    }
  }
  // Control characters and NUL inside a name are sent escaped, never cut.
  EXPECT_EQ(requestUrl(std::string_view("/a\0b\x01\x7f", 6), "http://h/"), "http://h/a%00b%01%7F");
}

TEST(RequestCheckTest, MapsStatusesToDavErrors) {
  struct Case {
    long status;
    std::optional<DavError> error;
  } cases[] = {
      {207, std::nullopt},          {299, std::nullopt},      {0, std::nullopt},  // 0: no HTTP status
      {401, DavError::forbidden()}, {404, DavError::notFound()}, {199, DavError::status(199)},
      {300, DavError::status(300)}, {502, DavError::status(502)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.status);
    platform::HttpResponse response{.status = c.status};
    if (!c.error) {
      EXPECT_NO_THROW(check(response));
    } else {
      EXPECT_EQ(davErrorOf([&] { check(response); }), *c.error);
    }
  }
}

TEST(RequestMappedTest, OnlyConnectionLossBecomesUnreachable) {
  using platform::Error;
  namespace urlerr = platform::urlerr;
  auto url = [](long code) { return std::make_exception_ptr(Error(platform::kURLErrorDomain, code)); };
  struct Case {
    std::exception_ptr error;
    bool unreachable;
  } cases[] = {
      {url(urlerr::kCannotConnectToHost), true},
      {url(urlerr::kTimedOut), true},
      {url(urlerr::kCannotFindHost), false},
      {std::make_exception_ptr(Error(platform::kPOSIXErrorDomain, urlerr::kTimedOut)), false},  // same code
      {std::make_exception_ptr(std::runtime_error("x")), false},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(i);
    std::exception_ptr out = mapped(cases[i].error);
    if (cases[i].unreachable) {
      EXPECT_EQ(davErrorOf([&] { std::rethrow_exception(out); }), DavError::unreachable());
    } else {
      EXPECT_EQ(out, cases[i].error);  // the very same error, unchanged
    }
  }
  EXPECT_EQ(mapped(nullptr), nullptr);
}

}  // namespace
}  // namespace davfp
