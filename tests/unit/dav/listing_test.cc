// Listings taken whole to be parsed later: the same entries as a streamed list(), a small answer held until
// it is parsed, a large one never held whole, and the filter of a folder's direct children.
#include "dav/listing.h"

#include <gtest/gtest.h>

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
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    server_.on("PROPFIND", c.target, listing(c.listed));
    const auto streamed = pathsOf(dav->list(c.path, 1));
    Listing answer = dav->listing(c.path, 1);
    EXPECT_EQ(answer.heldBytes() > 0, c.held);
    EXPECT_EQ(pathsOf(std::move(answer).entries()), streamed);
    EXPECT_EQ(streamed.size(), c.listed.size());
  }
  // Failures are those of list(): a folder that is not there, after its probe.
  EXPECT_THROW(
      {
        try {
          dav->listing("/missing", 1);
        } catch (const DavError& e) {
          EXPECT_EQ(e.kind(), DavError::Kind::notFound);
          throw;
        }
      },
      DavError);
  EXPECT_EQ(server_.connections(), 1);
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
