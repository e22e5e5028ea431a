// Reading the failure out of a Multi-Status answer to a DELETE or MOVE, as servers write them.
#include "dav/multistatus.h"

#include <gtest/gtest.h>

namespace davfp::testing {
namespace {

const std::string kUrl = "http://127.0.0.1:8080/dav/docs/caf%C3%A9/";

// A multistatus body of (href, status line) responses.
std::string body(const std::vector<std::pair<std::string, std::string>>& responses) {
  std::string out = "<?xml version=\"1.0\" encoding=\"utf-8\"?><D:multistatus xmlns:D=\"DAV:\">";
  for (const auto& [href, status] : responses) {
    out += "<D:response><D:href>" + href + "</D:href><D:status>" + status + "</D:status></D:response>";
  }
  return out + "</D:multistatus>";
}

TEST(MultiStatusTest, ReadsTheTargetsStatusOrTheFirstFailingMember) {
  const std::string locked = "HTTP/1.1 423 Locked", failed = "HTTP/1.1 424 Failed Dependency";
  std::string unfinished = body({{"/dav/a", locked}});
  unfinished.resize(unfinished.size() - std::string_view("</D:multistatus>").size());
  // A failure 100 elements deep: a parse that stops at 64 never reaches it.
  std::string deep = body({{"/dav/a", locked}});
  deep.erase(0, deep.find("<D:multistatus"));
  for (int i = 0; i < 99; ++i) deep = "<x>" + deep + "</x>";
  // clang-format off
  struct Case {
    const char* name;
    std::string body;
    std::optional<int> status;
  } cases[] = {
      {"the target refused, as lighttpd does", body({{"/dav/docs/caf%C3%A9/", "HTTP/1.1 412 Precondition Failed"}}), 412},
      {"the target as an absolute URL, spelt otherwise",
       body({{"/dav/docs/other", locked}, {"http://127.0.0.1:8080/dav/docs/caf%c3%a9", "HTTP/1.1 403 Forbidden"}}), 403},
      {"members only", body({{"/dav/docs/caf%C3%A9/a", "HTTP/1.1 200 OK"}, {"/dav/docs/caf%C3%A9/b", locked}}), 423},
      {"a failed dependency yields to the failure behind it",
       body({{"/dav/docs/caf%C3%A9/x/", failed}, {"/dav/docs/caf%C3%A9/x/y", locked}}), 423},
      {"the target done, a member not", body({{"/dav/docs/caf%C3%A9/", "HTTP/1.1 204 No Content"},
                                              {"/dav/docs/caf%C3%A9/b", "HTTP/1.1 507 Insufficient Storage"}}), 507},
      {"a property's status is not the response's",
       "<D:multistatus xmlns:D=\"DAV:\"><D:response><D:href>/dav/docs/caf%C3%A9/</D:href><D:propstat><D:prop/>"
       "<D:status>HTTP/1.1 404 Not Found</D:status></D:propstat><D:status>HTTP/1.1 409 Conflict</D:status>"
       "</D:response></D:multistatus>", 409},
      {"nothing failed", body({{"/dav/docs/caf%C3%A9/", "HTTP/1.1 201 Created"}}), std::nullopt},
      {"an unreadable status line", body({{"/dav/docs/caf%C3%A9/", "412 Precondition Failed"}}), std::nullopt},
      {"not XML", "<html><body>Multi-Status</body></html", std::nullopt},
      {"cut short after a failure", unfinished, 423},
      {"an entity declared", "<!DOCTYPE m [<!ENTITY s \"HTTP/1.1 412 X\">]><D:multistatus xmlns:D=\"DAV:\">"
       "<D:response><D:href>/dav/a</D:href><D:status>&s;</D:status></D:response></D:multistatus>", std::nullopt},
      {"nested past the limit", deep, std::nullopt},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(multiStatusFailure(c.body, kUrl), c.status);
  }
}

}  // namespace
}  // namespace davfp::testing
