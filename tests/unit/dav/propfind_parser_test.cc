// Reading multistatus bodies: the listings of PROPFIND, whatever a server writes and however hostile, and
// the failure out of a Multi-Status answer to a DELETE or MOVE, as servers write them.
#include "dav/multistatus.h"
#include "dav/propfind_parser.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace davfp {
namespace {

using std::chrono::seconds;

// One line per entry: path|d or f|size or -|modified seconds or -|etag or -.
std::vector<std::string> describe(const std::vector<DavEntry>& entries) {
  std::vector<std::string> out;
  for (const auto& e : entries) {
    std::string line =
        e.path + "|" + (e.isDir ? "d" : "f") + "|" + (e.size ? std::to_string(*e.size) : "-") + "|";
    line += e.modified
                ? std::to_string(std::chrono::duration_cast<seconds>(e.modified->time_since_epoch()).count())
                : "-";
    out.push_back(line + "|" + e.etag.value_or("-"));
  }
  return out;
}

std::vector<std::string> parse(std::string_view body, std::string_view base = "/dav") {
  return describe(PropfindParser::parse(body, base));
}

// A multistatus body of responses written in the D: prefix.
std::string multistatus(const std::vector<std::string>& responses) {
  std::string body = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<D:multistatus xmlns:D=\"DAV:\">\n";
  for (const auto& r : responses) body += "<D:response>" + r + "</D:response>\n";
  return body + "</D:multistatus>\n";
}

std::string href(std::string_view h) { return "<D:href>" + std::string(h) + "</D:href>"; }

constexpr long long k1994 = 784111777;  // Sun, 06 Nov 1994 08:49:37 GMT

// A listing as Apache writes it (every server's own is read in the tests against real servers): lower-case
// escapes, raw "+;&", prefixes lp1/ns0 bound to DAV:, missing properties in a 404 propstat, a weak entity tag
// after a write.
const char* kApache = R"(<?xml version="1.0" encoding="utf-8"?>
<D:multistatus xmlns:D="DAV:" xmlns:ns0="DAV:">
<D:response xmlns:lp1="DAV:" xmlns:lp2="http://apache.org/dav/props/">
<D:href>/dav/docs/</D:href>
<D:propstat><D:prop><lp1:resourcetype><D:collection/></lp1:resourcetype>
<lp1:getlastmodified>Sun, 06 Nov 1994 08:49:37 GMT</lp1:getlastmodified>
<lp1:getetag>"1000-5d8a"</lp1:getetag></D:prop><D:status>HTTP/1.1 200 OK</D:status></D:propstat>
<D:propstat><D:prop><ns0:getcontentlength/></D:prop>
<D:status>HTTP/1.1 404 Not Found</D:status></D:propstat></D:response>
<D:response xmlns:lp1="DAV:" xmlns:lp2="http://apache.org/dav/props/">
<D:href>/dav/docs/caf%c3%a9%20+;&amp;.txt</D:href>
<D:propstat><D:prop><lp1:resourcetype/><lp1:getcontentlength>12</lp1:getcontentlength>
<lp1:getlastmodified>Sun, 06 Nov 1994 08:49:37 GMT</lp1:getlastmodified>
<lp1:getetag>W/"c-5d8a"</lp1:getetag><lp2:executable>F</lp2:executable></D:prop>
<D:status>HTTP/1.1 200 OK</D:status></D:propstat></D:response>
</D:multistatus>
)";

TEST(PropfindParserTest, ReadsEveryServersListing) {
  const std::string file = "/docs/caf\xc3\xa9 +;&.txt|f|12|" + std::to_string(k1994);
  const std::string folder = "/docs|d|";
  struct Case {
    const char* server;
    const char* body;
    std::vector<std::string> entries;
  } cases[] = {
      {"apache", kApache, {folder + "-|" + std::to_string(k1994) + "|\"1000-5d8a\"", file + "|W/\"c-5d8a\""}},
      // Names are recognised whatever their namespace: the default one, or none at all.
      {"default namespace",
       "<multistatus xmlns='DAV:'><response><href>/dav/a/</href><propstat><prop><resourcetype><collection/>"
       "</resourcetype><getcontentlength>3</getcontentlength><getetag>\"e\"</getetag></prop></propstat>"
       "</response></multistatus>",
       {"/a|d|3|-|\"e\""}},
      {"no namespace",
       "<multistatus><response><href>/dav/a/</href><collection/><getcontentlength>3</getcontentlength>"
       "<getetag>\"e\"</getetag></response></multistatus>",
       {"/a|d|3|-|\"e\""}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.server);
    EXPECT_EQ(parse(c.body), c.entries);
    EXPECT_EQ(parse(c.body, "/dav/"), c.entries);
    PropfindParser parser("/dav");
    parser.feed(c.body);
    parser.finish();
    EXPECT_TRUE(parser.complete());
  }
}

// Each href is followed by one outside the base path ("/next"), which must be listed after it whatever became
// of the first: a path that decodes to no text names nothing the engine could show or address, and gives no
// entry.
TEST(PropfindParserTest, MakesHrefsRelativeToTheBasePath) {
  const std::string longName(100 * 1024, 'n');
  struct Case {
    std::string href;
    std::string base;
    std::optional<std::string> path;  // none: no entry
  } cases[] = {
      {"", "/dav", "/"},
      {"/dav/a%20b.txt", "/dav/", "/a b.txt"},
      {"https://u:p@[::1]:8080/dav/x/?q=1#f", "/dav", "/x"},  // absolute: its path; query and fragment dropped
      {"x/y/", "/dav", "/x/y"},                              // a relative href
      {"/davx/y", "/dav", "/davx/y"},                        // not under the base path
      {"/dav/%zz/b", "/dav", "/%zz/b"},  // a "%" that begins no escape stays; still made relative
      {"/dav/caf%C3%A9%zz", "/dav", "/caf\xc3\xa9%zz"},
      {"/dav/caf%E9.txt", "/dav", std::nullopt},  // Latin-1 is no UTF-8
      {"/d%61v/x", "/dav", "/x"},        // escaped unreserved letters compare decoded
      {"/dav%2Fx/y", "/dav", "/dav/x/y"},  // an escaped "/" is no separator of the base path
      {"/dav/%2E%2E", "/dav", "/.."},      // decoded; the request layer refuses to address it
      // Escaped control characters are kept, nothing cut at a NUL; long names are kept whole.
      {"/dav/a%00b%01c%0Ad%7F%1B", "/dav", std::string("/a\0b\x01" "c\nd\x7f\x1b", 10)},
      {"/dav/%00", "/dav", std::string("/\0", 2)},
      {"/dav/" + longName, "/dav", "/" + longName},
      // A base path holding characters that servers escape, compared in one form.
      {"/my%20dav/a%20b", "/my dav", "/a b"},
      {"/caf\xc3\xa9/x", "/cafe\xcc\x81", "/x"},  // raw UTF-8, composed href, decomposed base
      {"/cafe%CC%81/cafe%CC%81", "/caf\xc3\xa9", "/cafe\xcc\x81"},  // the name keeps the server's spelling
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("href " + c.href.substr(0, 80) + " base " + c.base);
    std::vector<std::string> expected{"/next|f|-|-|-"};
    if (c.path) expected.insert(expected.begin(), *c.path + "|f|-|-|-");
    EXPECT_EQ(parse(multistatus({href(c.href), href("/next")}), c.base), expected);
  }
}

TEST(PropfindParserTest, ReadsPropertyValues) {
  struct Case {
    std::string props;
    std::string entry;  // without the path
  } cases[] = {
      {"<D:getcontentlength>\n  007 \t</D:getcontentlength>", "f|7|-|-"},
      {"<D:getcontentlength>9223372036854775807</D:getcontentlength>", "f|9223372036854775807|-|-"},
      // Anything that is no length is an unknown length, not 0 and not kept as it is.
      {"<D:getcontentlength>9223372036854775808</D:getcontentlength>", "f|-|-|-"},
      {"<D:getcontentlength>-5</D:getcontentlength>", "f|-|-|-"},
      {"<D:getcontentlength>12 bytes</D:getcontentlength>", "f|-|-|-"},
      {"<D:getcontentlength>5</D:getcontentlength><D:getcontentlength/>", "f|-|-|-"},  // the last one wins
      {"<D:getlastmodified>1994-11-06T08:49:37Z</D:getlastmodified>", "f|-|-|-"},
      {"<D:getetag>\xc2\xa0W/\"x\"\xe2\x80\xa8</D:getetag>", "f|-|-|W/\"x\""},  // Unicode white space
      {"<D:getetag><![CDATA[\"x]]>\"<!-- c --></D:getetag>", "f|-|-|\"x\""},
      // A collection element of any namespace, at any depth, marks a folder; status is never read.
      {"<D:propstat><D:prop><D:resourcetype><D:collection/></D:resourcetype></D:prop>"
       "<D:status>HTTP/1.1 404 Not Found</D:status></D:propstat>",
       "d|-|-|-"},
      {"<x:collection xmlns:x='urn:other'/>", "d|-|-|-"},
      {"<D:resourcetype><D:Collection/></D:resourcetype>", "f|-|-|-"},  // local names are case-sensitive
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.props);
    EXPECT_EQ(parse(multistatus({href("/dav/a") + c.props})), std::vector<std::string>{"/a|" + c.entry});
  }
}

// Only a body read to its end as one multistatus document is complete: whatever else a server sends with a
// success status (a page, nothing, a document cut off or carrying more than the listing) is not. What precedes
// the first error is kept.
TEST(PropfindParserTest, KeepsWhatPrecedesTheFirstErrorAndTellsWhetherTheBodyWasOneWholeMultistatus) {
  const std::string three = multistatus({href("/dav/1"), href("/dav/2"), href("/dav/3")});
  const std::vector<std::string> two = {"/1|f|-|-|-", "/2|f|-|-|-"};
  const size_t third = three.find("/dav/3");
  const std::string afterProlog = three.substr(three.find("<D:multistatus"));
  struct Case {
    const char* name;
    std::string body;
    bool complete;
    std::optional<std::vector<std::string>> entries;  // none: not checked
    std::string more = "";  // fed after the body, in a piece of its own
  } cases[] = {
      {"a multistatus", three, true, {{"/1|f|-|-|-", "/2|f|-|-|-", "/3|f|-|-|-"}}},
      {"a multistatus without responses", "<D:multistatus xmlns:D='DAV:'/>", true, {{}}},
      {"truncated in the third response", three.substr(0, third), false, two},
      // After the first error later pieces change nothing.
      {"mismatched tag in the third response", three.substr(0, third) + "</D:prop>", false, two,
       three.substr(third)},
      {"an HTML page", "<!DOCTYPE html><html><body><p>Sign in</p></body></html>", false, {}},
      {"a multistatus inside another element", "<x>" + afterProlog + "</x>", false, {}},
      // Entities are never expanded or fetched: declaring one ends the parse before anything is listed.
      {"an entity declaration", "<!DOCTYPE m [<!ENTITY e SYSTEM 'file:///etc/passwd'>]>" + afterProlog, false, {{}}},
      {"junk after the document", three + "<D:multistatus/>", false, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    PropfindParser parser("/dav");
    parser.feed(c.body);
    if (!c.more.empty()) parser.feed(c.more);
    EXPECT_FALSE(parser.complete()) << "before finish()";
    auto entries = describe(parser.finish());
    EXPECT_EQ(parser.complete(), c.complete);
    if (c.entries) {
      EXPECT_EQ(entries, *c.entries);
    }
  }
}

// The parser's memory bounds against hostile bodies: whatever a body holds, the parse ends within a bounded
// number of bytes of the point where it would start to hold more than a value, and keeps what came before.
TEST(PropfindLimitsTest, HostileBodiesEndTheParseWithinBoundedInput) {
  constexpr size_t kMiB = 1 << 20;
  const std::string head = multistatus({href("/dav/kept")});
  struct Case {
    const char* what;
    std::string open;    // after the first response
    std::string filler;  // then this, again and again
  } cases[] = {
      {"an endless element name", "<D:", "n"},
      {"an endless comment", "<!--", "c"},
      {"endless nesting of elements that are read", "<D:response>", "<D:href>"},
      {"an endless href", "<D:response><D:href>/dav/", "h"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    PropfindParser parser("/dav");
    parser.feed(head.substr(0, head.find("</D:multistatus>")) + c.open);
    std::string piece;
    while (piece.size() < 64 * 1024) piece += c.filler;
    size_t fed = 0;
    while (!parser.stopped() && fed < 64 * kMiB) {
      parser.feed(piece);
      fed += piece.size();
    }
    EXPECT_TRUE(parser.stopped());
    EXPECT_LE(fed, kMiB + piece.size()) << "still reading after " << fed / 1024 << " KiB";
    EXPECT_EQ(describe(parser.finish()), std::vector<std::string>{"/kept|f|-|-|-"});
    EXPECT_FALSE(parser.complete());
  }
}

TEST(MultiStatusTest, ReadsTheTargetsStatusOrTheFirstFailingMember) {
  // A multistatus body of (href, status line) responses.
  auto body = [](const std::vector<std::pair<std::string, std::string>>& responses) {
    std::vector<std::string> out;
    for (const auto& [h, status] : responses) out.push_back(href(h) + "<D:status>" + status + "</D:status>");
    return multistatus(out);
  };
  const std::string locked = "HTTP/1.1 423 Locked", failed = "HTTP/1.1 424 Failed Dependency";
  std::string unfinished = body({{"/dav/a", locked}});
  unfinished.resize(unfinished.find("</D:multistatus>"));
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
    EXPECT_EQ(multiStatusFailure(c.body, "http://127.0.0.1:8080/dav/docs/caf%C3%A9/"), c.status);
  }
}

}  // namespace
}  // namespace davfp
