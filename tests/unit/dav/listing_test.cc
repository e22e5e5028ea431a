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
  for (const auto& e : entries) out.push_back(e.path + (e.isDir ? "/" : "") + "|" + std::to_string(e.size));
  return out;
}

TEST_F(ListingTest, GivesWhatListGivesAndHoldsOnlySmallAnswers) {
  auto dav = warmDav();
  std::vector<Listed> many = {{"/dav/big/", true}};
  // Some 1.3 MB of answer: past what is held, so it is parsed as it arrives.
  for (int i = 0; i < 6000; ++i) many.push_back({"/dav/big/file-" + std::to_string(i), false, i, "\"e\""});
  ASSERT_GT(multistatus(many).size(), kHeldListingBody);
  struct Case {
    const char* what;
    std::string path, target;
    std::vector<Listed> listed;
    bool held;
  } cases[] = {
      {"small", "/small", "/dav/small/", {{"/dav/small/", true}, {"/dav/small/a.txt", false, 3}}, true},
      {"no entries", "/none", "/dav/none/", {}, true},
      {"large", "/big", "/dav/big/", many, false},
  };
  // Taken at once, or started and finished later: the same answer.
  using Take = std::function<Listing(Dav&, const std::string&)>;
  const std::pair<const char*, Take> ways[] = {
      {"listing()", [](Dav& d, const std::string& path) { return d.listing(path, 1); }},
      {"started, then finished", [](Dav& d, const std::string& path) { return d.startListing(path, 1).finish(); }},
  };
  for (const auto& [how, take] : ways) {
    SCOPED_TRACE(how);
    for (const auto& c : cases) {
      SCOPED_TRACE(c.what);
      server_.on("PROPFIND", c.target, listing(c.listed));
      const auto streamed = pathsOf(dav->list(c.path, 1));
      Listing answer = take(*dav, c.path);
      EXPECT_EQ(answer.heldBytes() > 0, c.held);
      EXPECT_EQ(pathsOf(std::move(answer).entries()), streamed);
      EXPECT_EQ(streamed.size(), c.listed.size());
    }
    // Failures are those of list(): a folder that is not there, after its probe.
    EXPECT_EQ(davErrorOf([&] { take(*dav, "/missing"); }), DavError::notFound());
  }
  EXPECT_EQ(server_.connections(), 1);
}

// A started listing fails where listing() fails, and as it does: statuses, a path that cannot be sent (nothing
// goes out), and a lost connection retried once after a probe (the retry's listing alone counts).
TEST_F(ListingTest, AStartedListingFailsAndRetriesAsListingDoes) {
  auto dav = warmDav();
  std::vector<Listed> many;
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
      {"a path outside the drive", "/a/../b", {}, DavError::status(400), {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    for (const auto& reply : c.replies) server_.on("PROPFIND", "/dav/lost/", reply);
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
      EXPECT_EQ(std::move(*got).entries().size(), many.size());
    }
    // The transport sends a request once more by itself when a reused connection ends before any answer.
    auto sent = lines(server_.requests());
    sent.erase(std::unique(sent.begin(), sent.end()), sent.end());
    EXPECT_EQ(sent, c.sent);
  }
}

TEST(ChildrenOfTest, KeepsTheFolderDirectChildrenOnly) {
  auto entry = [](std::string path) { return DavEntry{.path = std::move(path)}; };
  struct Case {
    const char* what;
    std::string folder;
    Strings listed, kept;
  } cases[] = {
      {"folder itself and deeper entries dropped", "/a", {"/a", "/a/x", "/a/y/z", "/b", "/a/y"}, {"/a/x", "/a/y"}},
      {"root", "/", {"/", "/x", "/x/y"}, {"/x"}},
      {"canonically equal spellings", "/caf\xC3\xA9", {"/cafe\xCC\x81", "/cafe\xCC\x81/n"}, {"/cafe\xCC\x81/n"}},
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
