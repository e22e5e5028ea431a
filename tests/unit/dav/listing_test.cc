// Listings taken whole to be parsed later, at once or started and finished later: the same entries as a
// streamed list(), a small answer held until it is parsed, a large one never held whole, the same failures and
// retry, and the filter of a folder's direct children.
#include "dav/listing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <optional>

#include "dav/dav.h"
#include "unit/dav/dav_fixture.h"

namespace davfp::testing {
namespace {

class ListingTest : public DavFixture {};

Strings pathsOf(const std::vector<DavEntry>& entries) {
  Strings out;
  for (const auto& e : entries) {
    out.push_back(e.path + (e.isDir ? "/" : "") + "|" + (e.size ? std::to_string(*e.size) : "-"));
  }
  return out;
}

// A started listing fails where listing() fails, and as it does: statuses, a path that cannot be sent (nothing
// goes out), and a lost connection or a timeout retried once after a probe (the retry's listing alone counts).
TEST_F(ListingTest, AStartedListingFailsAndRetriesAsListingDoes) {
  DavTimings timings = fast();
  timings.requestTimeout = std::chrono::milliseconds(200);  // short only to keep the test fast
  auto dav = warmDav("", timings);
  std::vector<Listed> many = {{"/dav/lost/", true}};
  for (int i = 0; i < 400; ++i) many.push_back({"/dav/lost/entry-" + std::to_string(i), false, i});
  Reply big = listing(many);
  Reply cut = big;
  cut.dropAfterBytes = big.body.size() / 2;
  struct Case {
    const char* what;
    std::string path;
    std::vector<Reply> replies;  // the last one repeats
    std::optional<DavError> error;
    Strings sent;
  } cases[] = {
      {"lost once", "/lost", {cut, big}, std::nullopt,
       {"PROPFIND /dav/lost/", "OPTIONS /dav/", "PROPFIND /dav/lost/"}},
      {"lost twice", "/lost", {cut}, DavError::unreachable(),
       {"PROPFIND /dav/lost/", "OPTIONS /dav/", "PROPFIND /dav/lost/"}},
      {"refused", "/lost", {Reply{.status = 500}}, DavError::status(500), {"PROPFIND /dav/lost/"}},
      {"silent once", "/slow", {Reply{.noAnswer = true}, listing({{"/dav/slow/", true}})}, std::nullopt,
       {"PROPFIND /dav/slow/", "OPTIONS /dav/", "PROPFIND /dav/slow/"}},
      {"a path outside the drive", "/a/../b", {}, DavError::status(400), {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    for (const auto& reply : c.replies) server_.on("PROPFIND", "/dav" + c.path + "/", reply);
    server_.clearRequests();
    auto started = dav->startListing(c.path, 1);
    std::optional<Listing> got;
    std::optional<DavError> error;
    try {
      got = started.finish();
    } catch (const DavError& e) {
      error = e;
    }
    EXPECT_EQ(error, c.error);
    if (got) {
      EXPECT_EQ(std::move(*got).entries().size(), c.path == "/slow" ? 1u : many.size());
    }
    // The transport sends a request once more by itself when a reused connection ends before any answer.
    auto sent = lines(server_.requests());
    sent.erase(std::unique(sent.begin(), sent.end()), sent.end());
    EXPECT_EQ(sent, c.sent);
  }
}

// An answer counts only when it is one whole multistatus document describing what was asked for. Anything
// else fails with kBrokenListingStatus, however it is taken, after one exchange: no probe, no second attempt.
TEST_F(ListingTest, AnAnswerThatIsNoWholeListingFails) {
  auto dav = warmDav();
  const std::string folder = multistatus({{"/dav/f/", true}, {"/dav/f/a", false, 1}});
  // Some 1.3 MB of answer: past what is held, so it is parsed as it arrives.
  std::vector<Listed> many = {{"/dav/f/", true}};
  Strings manyPaths = {"/f/|-"};
  for (int i = 0; i < 6000; ++i) {
    many.push_back({"/dav/f/file-" + std::to_string(i), false, i, "\"e\""});
    manyPaths.push_back("/f/file-" + std::to_string(i) + "|" + std::to_string(i));
  }
  const std::string large = multistatus(many);
  ASSERT_GT(large.size(), kHeldListingBody);
  auto reply = [](int status, std::string body) { return Reply{.status = status, .body = std::move(body)}; };
  struct Case {
    const char* what;
    int depth;
    Reply reply;
    std::optional<Strings> paths;  // none: the listing fails
  } cases[] = {
      {"a whole listing", 1, reply(207, folder), Strings{"/f/|-", "/f/a|1"}},
      {"a large whole listing", 1, reply(207, large), manyPaths},
      {"the folder spelled without its slash", 1, reply(207, multistatus({{"/dav/f", true}})),
       Strings{"/f/|-"}},
      {"an HTML page", 1, reply(200, "<html><body>Sign in</body></html>"), std::nullopt},
      {"an empty multistatus for a resource", 0, reply(207, multistatus({})), std::nullopt},
      {"without the folder itself", 1, reply(207, multistatus({{"/dav/f/a", false, 1}})), std::nullopt},
      {"a large one with an invalid byte", 1,
       reply(207, large.substr(0, large.size() / 2) + "\xff" + large.substr(large.size() / 2)), std::nullopt},
  };
  // A small answer is held until it is parsed, a large one never whole, however it is taken; a folder that is
  // not there fails as in list(), after its probe; all of it on one connection.
  for (const auto& [body, held] : {std::pair{folder, true}, {large, false}}) {
    SCOPED_TRACE(held);
    server_.on("PROPFIND", "/dav/f/", reply(207, body));
    EXPECT_EQ(dav->listing("/f", 1).heldBytes() > 0, held);
    EXPECT_EQ(dav->startListing("/f", 1).finish().heldBytes() > 0, held);
  }
  EXPECT_EQ(davErrorOf([&] { dav->listing("/missing", 1); }), DavError::notFound());
  EXPECT_EQ(davErrorOf([&] { dav->startListing("/missing", 1).finish(); }), DavError::notFound());
  EXPECT_EQ(server_.connections(), 1);
  using Take = std::function<std::vector<DavEntry>(Dav&, int)>;
  const std::pair<const char*, Take> ways[] = {
      {"list()", [](Dav& d, int depth) { return d.list("/f", depth); }},
      {"listing()", [](Dav& d, int depth) { return d.listing("/f", depth).entries(); }},
      {"started, then finished",
       [](Dav& d, int depth) { return d.startListing("/f", depth).finish().entries(); }},
  };
  for (const auto& [how, take] : ways) {
    SCOPED_TRACE(how);
    for (const auto& c : cases) {
      SCOPED_TRACE(c.what);
      server_.on("PROPFIND", c.depth == 0 ? "/dav/f" : "/dav/f/", c.reply);
      server_.clearRequests();
      if (c.paths) {
        EXPECT_EQ(pathsOf(take(*dav, c.depth)), *c.paths);
      } else {
        EXPECT_EQ(davErrorOf([&] { take(*dav, c.depth); }), DavError::status(kBrokenListingStatus));
      }
      EXPECT_EQ(lines(server_.requests()), Strings{std::string("PROPFIND /dav/f") + (c.depth ? "/" : "")});
    }
  }
}

TEST(ChildrenOfTest, KeepsTheFolderDirectChildrenOnly) {
  auto entry = [](std::string path) { return DavEntry{.path = std::move(path)}; };
  struct Case {
    const char* what;
    std::string folder;
    Strings listed, kept;
  } cases[] = {
      {"folder itself and deeper entries dropped",
       "/a",
       {"/a", "/a/x", "/a/y/z", "/b", "/a/y"},
       {"/a/x", "/a/y"}},
      {"root", "/", {"/", "/x", "/x/y"}, {"/x"}},
      {"canonically equal spellings",
       "/caf\xC3\xA9",
       {"/cafe\xCC\x81", "/cafe\xCC\x81/n"},
       {"/cafe\xCC\x81/n"}},
      {"an href twice", "/", {"/", "/x", "/y", "/x", "/"}, {"/x", "/y"}},
      {"two spellings of one name: the first",
       "/",
       {"/", "/cafe\xCC\x81", "/caf\xC3\xA9", "/z"},
       {"/cafe\xCC\x81", "/z"}},
      {"dot names", "/a", {"/a", "/a/.", "/a/..", "/a/.x", "/a/..."}, {"/a/.x", "/a/..."}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<DavEntry> listing;
    for (const auto& p : c.listed) listing.push_back(entry(p));
    Strings kept;
    for (const auto& e : childrenOf(c.folder, std::move(listing))) kept.push_back(e.path);
    EXPECT_EQ(kept, c.kept);
  }
}

}  // namespace
}  // namespace davfp::testing
