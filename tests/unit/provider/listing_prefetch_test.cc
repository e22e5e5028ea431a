// The change pass's prefetch: folders fetched in order, one request at a time on one connection, the next one
// out while the pass works, nothing fetched that the pass found gone or that a failure ended, and nothing left
// running when the pass ends.
#include "provider/listing_prefetch.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/error.h"
#include "platform/jobs.h"
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

TEST_F(ListingPrefetchTest, DeliversInOrderAndStopsAtTheFirstFailure) {
  auto dav = warmDav();
  server_.on("PROPFIND", "/dav/a/", listing({{"/dav/a/", true}, {"/dav/a/x.txt", false, 1}}));
  // /b is not scripted: 404, and its probe finds the server there.
  server_.on("PROPFIND", "/dav/c/", Reply{.status = 500});
  server_.on("PROPFIND", "/dav/d/", listing({{"/dav/d/", true}}));

  ListingPrefetch fetched(dav, {"/a", "/b", "/c", "/d"});
  auto a = fetched.next();
  ASSERT_TRUE(a);
  EXPECT_EQ(a->folder, "/a");
  EXPECT_FALSE(a->notFound);
  auto kids = childrenOf("/a", std::move(a->listing).entries());
  ASSERT_EQ(kids.size(), 1u);
  EXPECT_EQ(kids[0].path, "/a/x.txt");
  auto b = fetched.next();
  ASSERT_TRUE(b);
  EXPECT_EQ(b->folder, "/b");
  EXPECT_TRUE(b->notFound);
  EXPECT_THROW(
      {
        try {
          fetched.next();
        } catch (const DavError& e) {
          EXPECT_EQ(e, DavError::status(500));
          throw;
        }
      },
      DavError);
  EXPECT_EQ(propfinds(), (Strings{"PROPFIND /dav/a/", "PROPFIND /dav/b/", "PROPFIND /dav/c/"}));
  EXPECT_EQ(server_.connections(), 1);
}

// Each folder's request is on the wire while the pass works on the folder before, except a folder below that
// one, which waits until the pass has finished with it.
TEST_F(ListingPrefetchTest, TheNextRequestIsOutWhileThePassWorksOnTheAnswerBefore) {
  auto dav = warmDav();
  for (auto target : {"/dav/a/", "/dav/a/sub/", "/dav/b/", "/dav/c/"}) server_.on("PROPFIND", target, listing({}));
  server_.clearRequests();
  ListingPrefetch fetched(dav, {"/a", "/a/sub", "/b", "/c"});
  ASSERT_TRUE(server_.waitForRequests(1));
  struct Step {
    const char* folder;
    Strings sentWhileThePassWorks;
  } steps[] = {
      {"/a", {"PROPFIND /dav/a/"}},
      {"/a/sub", {"PROPFIND /dav/a/", "PROPFIND /dav/a/sub/", "PROPFIND /dav/b/"}},
      {"/b", {"PROPFIND /dav/a/", "PROPFIND /dav/a/sub/", "PROPFIND /dav/b/", "PROPFIND /dav/c/"}},
      {"/c", {"PROPFIND /dav/a/", "PROPFIND /dav/a/sub/", "PROPFIND /dav/b/", "PROPFIND /dav/c/"}},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(step.folder);
    auto next = fetched.next();
    ASSERT_TRUE(next);
    EXPECT_EQ(next->folder, step.folder);
    ASSERT_TRUE(server_.waitForRequests(step.sentWhileThePassWorks.size()));
    EXPECT_EQ(propfinds(), step.sentWhileThePassWorks);
  }
  EXPECT_FALSE(fetched.next());
  EXPECT_EQ(server_.connections(), 1);
}

TEST_F(ListingPrefetchTest, FetchesNothingBelowWhatThePassFoundGone) {
  auto dav = warmDav();
  for (auto target : {"/dav/a/", "/dav/a/sub/", "/dav/a/sub/deep/", "/dav/ab/", "/dav/b/"}) {
    server_.on("PROPFIND", target, listing({}));
  }
  ListingPrefetch fetched(dav, {"/a", "/a/sub", "/a/sub/deep", "/ab", "/b"});
  Strings got;
  while (auto next = fetched.next()) {
    got.push_back(next->folder);
    // The first folder's answer finds its subfolder gone: neither it nor anything below is listed.
    if (next->folder == "/a") fetched.skip("/a/sub");
  }
  EXPECT_EQ(got, (Strings{"/a", "/ab", "/b"}));
  EXPECT_EQ(propfinds(), (Strings{"PROPFIND /dav/a/", "PROPFIND /dav/ab/", "PROPFIND /dav/b/"}));
  EXPECT_EQ(server_.connections(), 1);
}

TEST_F(ListingPrefetchTest, EndingThePassEndsItsRequestAtOnce) {
  auto dav = warmDav();
  // An answer that never comes: only ending the pass ends its request before the server stops.
  server_.on("PROPFIND", "/dav/a/", listing({}));
  server_.on("PROPFIND", "/dav/b/", Reply{.noAnswer = true});
  // Jobs of earlier tests in this process (a prefetch that ended, a frame's delivery) may still be counting
  // themselves out; wait for them, so that what is left afterwards is this test's own.
  size_t jobsBefore = platform::poolCountsForTesting().jobs;
  for (int i = 0; i < 10'000 && jobsBefore > 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    jobsBefore = platform::poolCountsForTesting().jobs;
  }
  struct Case {
    const char* what;
    bool cancelThePass;  // else the pass ends by itself (a failure) while its request waits
  } cases[] = {{"pass cancelled while it waits", true}, {"pass ended early", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    server_.clearRequests();
    std::atomic<bool> cancelled{false};
    auto pass = platform::spawn([&] {
      ListingPrefetch fetched(dav, {"/a", "/b"});
      EXPECT_EQ(fetched.next()->folder, "/a");
      if (!c.cancelThePass) {
        ASSERT_TRUE(server_.waitForRequests(2));
        return;
      }
      try {
        fetched.next();
      } catch (const platform::Cancelled&) {
        cancelled = true;
      }
    });
    ASSERT_TRUE(server_.waitForRequests(2));
    if (c.cancelThePass) pass.cancel();
    pass.wait();
    EXPECT_EQ(cancelled, c.cancelThePass);
    EXPECT_EQ(propfinds(), (Strings{"PROPFIND /dav/a/", "PROPFIND /dav/b/"}));
    EXPECT_EQ(platform::poolCountsForTesting().jobs, jobsBefore);
  }
}

}  // namespace
}  // namespace davfp::testing
