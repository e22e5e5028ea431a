// A thread reuses the handles of its previous exchange: nothing of one request may reach the next.
#include <gtest/gtest.h>

#include "platform/error.h"
#include "platform/url_session.h"
#include "support/fake_server.h"
#include "unit/platform/url_session_test_util.h"

namespace davfp::platform {
namespace {

using testing::FakeServer;
using Reply = FakeServer::Reply;
using test::errorFrom;
using test::request;

TEST(UrlSessionReuseTest, NoMethodHeaderOrBodyCarriesOverToTheNextRequestOfTheThread) {
  FakeServer server;
  server.on("GET", "/silent", Reply{.noAnswer = true});
  UrlSession session;

  HttpRequest propfind = request("PROPFIND", server.url("/a/"), "<propfind/>");
  propfind.headers = {{"Depth", "1"}, {"X-Only-Here", "yes"}};
  session.data(propfind);
  session.data(request("GET", server.url("/b")));
  session.data(request("HEAD", server.url("/c")));
  // One that ends badly (no answer within its timeout), then a normal one again.
  HttpRequest silent = request("GET", server.url("/silent"));
  silent.timeout = std::chrono::milliseconds(200);
  auto failed = errorFrom([&] { session.data(silent); });
  ASSERT_TRUE(failed);
  EXPECT_EQ(failed->code(), urlerr::kTimedOut);
  session.data(request("DELETE", server.url("/d")));

  auto got = server.requests();
  ASSERT_EQ(got.size(), 5u);
  struct Expected {
    const char* method;
    const char* target;
    bool custom;
    const char* body;
  } expected[] = {{"PROPFIND", "/a/", true, "<propfind/>"},
                  {"GET", "/b", false, ""},
                  {"HEAD", "/c", false, ""},
                  {"GET", "/silent", false, ""},
                  {"DELETE", "/d", false, ""}};
  for (size_t i = 0; i < got.size(); ++i) {
    SCOPED_TRACE(expected[i].target);
    EXPECT_EQ(got[i].method, expected[i].method);
    EXPECT_EQ(got[i].target, expected[i].target);
    EXPECT_EQ(got[i].header("X-Only-Here").has_value(), expected[i].custom);
    EXPECT_EQ(got[i].header("Depth").has_value(), expected[i].custom);
    EXPECT_EQ(got[i].body, expected[i].body);
  }
}

}  // namespace
}  // namespace davfp::platform
