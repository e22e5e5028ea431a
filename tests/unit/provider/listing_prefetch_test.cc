// The change pass's prefetch: folders fetched in order, one request at a time on one connection, and nothing
// fetched that the pass found gone or that a failure ended.
#include "provider/listing_prefetch.h"

#include <gtest/gtest.h>

#include "unit/dav/dav_fixture.h"

namespace davfp::testing {
namespace {

class ListingPrefetchTest : public DavFixture {
 protected:
  Strings propfinds() {
    Strings out;
    for (const auto& line : lines(server_.requests())) {
      if (line.starts_with("PROPFIND ")) out.push_back(line);
    }
    return out;
  }
};

TEST_F(ListingPrefetchTest, DeliversInOrderSkipsWhatThePassFoundGoneAndStopsAtTheFirstFailure) {
  auto dav = warmDav();
  for (auto target : {"/dav/a/sub/", "/dav/a/sub/deep/", "/dav/ab/", "/dav/d/"}) {
    server_.on("PROPFIND", target, listing({}));
  }
  server_.on("PROPFIND", "/dav/a/", listing({{"/dav/a/", true}, {"/dav/a/x.txt", false, 1}}));
  // /b is not scripted: 404, and its probe finds the server there.
  server_.on("PROPFIND", "/dav/c/", Reply{.status = 500});

  ListingPrefetch fetched(dav, {"/a", "/a/sub", "/a/sub/deep", "/ab", "/b", "/c", "/d"});
  auto a = fetched.next();
  ASSERT_TRUE(a);
  EXPECT_EQ(a->folder, "/a");
  EXPECT_FALSE(a->notFound);
  auto kids = childrenOf("/a", std::move(a->listing).entries());
  ASSERT_EQ(kids.size(), 1u);
  EXPECT_EQ(kids[0].path, "/a/x.txt");
  // The answer finds the subfolder gone: neither it nor anything below it is listed.
  fetched.skip("/a/sub");
  EXPECT_EQ(fetched.next()->folder, "/ab");
  auto b = fetched.next();
  ASSERT_TRUE(b);
  EXPECT_EQ(b->folder, "/b");
  EXPECT_TRUE(b->notFound);
  EXPECT_EQ(davErrorOf([&] { fetched.next(); }), DavError::status(500));
  EXPECT_EQ(propfinds(), (Strings{"PROPFIND /dav/a/", "PROPFIND /dav/ab/", "PROPFIND /dav/b/", "PROPFIND /dav/c/"}));
  EXPECT_EQ(server_.connections(), 1);
}

}  // namespace
}  // namespace davfp::testing
