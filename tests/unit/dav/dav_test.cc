// Server resolution and the frame every exchange runs in: finding the published drive, probing it, starting
// the host application, and the one retry after a lost server.
#include "dav/dav.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <future>

#include "platform/error.h"
#include "platform/jobs.h"
#include "platform/task.h"
#include "support/temp_dir.h"
#include "unit/dav/dav_fixture.h"

namespace davfp::testing {
namespace {

using namespace std::chrono_literals;

const Reply kLive{.status = 200, .headers = {{"DAV", "1, 2"}}};

class DavTest : public DavFixture {};

TEST_F(DavTest, ConcurrentRequestsShareOneResolutionAndOneProbe) {
  server_.on("GET", "/dav/f", Reply{.body = "contents"});
  for (bool cold : {true, false}) {
    SCOPED_TRACE(cold ? "a cold cache" : "a lost server, published elsewhere meanwhile");
    FakeServer old;
    std::shared_ptr<Dav> dav;
    if (cold) {
      env_.publish(kDomain, base_);
      dav = makeDav();
    } else {
      dav = warmDav(old.url("/dav/"));
      old.stop();
      env_.publish(kDomain, base_);
    }
    const int reads = env_.drivesReads();
    server_.clearRequests();
    // The resolution waits at the gate while the other requests arrive and join it, or find the URL it has
    // already put in place: none of them starts another.
    env_.closeGate();
    std::vector<platform::Task<std::string>> requests;
    for (int i = 0; i < 8; ++i)
      requests.push_back(platform::spawnTask([dav] { return dav->send("GET", "/f"); }));
    ASSERT_TRUE(env_.waitAtGate());
    env_.openGate();
    for (auto& request : requests) EXPECT_EQ(request.get(), "contents");
    EXPECT_EQ(env_.drivesReads(), reads + 1);
    EXPECT_EQ(count(server_.requests(), "OPTIONS"), 1u);
    EXPECT_EQ(count(server_.requests(), "GET"), 8u);
  }
  EXPECT_TRUE(env_.launches().empty());
}

TEST_F(DavTest, AcceptsOnlyAPublishedURLWhoseServerAnswersAsAWebDavServer) {
  env_.setAppInstalled(false);
  struct Case {
    const char* what;
    std::string domain, url;  // published; a url "BASE" is the case's own base URL; no domain: no drives.json
    std::optional<Reply> options;
    bool found;
    size_t probes;  // without the DAV header the server is no WebDAV server: probed again at every poll
    int reads;      // of drives.json: a drive that is not listed, with no host application, is not waited for
    std::string cause;
  } cases[] = {
      {"DAV header", kDomain, "BASE", kLive, true, 1, 1, ""},
      {"empty DAV header", kDomain, "BASE", Reply{.headers = {{"DAV", ""}}}, true, 1, 1, ""},
      {"no DAV header", kDomain, "BASE", Reply{.headers = {{"Allow", "GET, PUT"}}}, false, 4, 4,
       "OPTIONS /c2/: HTTP 200 without a DAV header"},
      {"DAV header on a 404", kDomain, "BASE", Reply{.status = 404, .headers = {{"DAV", "1"}}}, false, 4, 4,
       "OPTIONS /c3/: HTTP 404"},
      {"no drives.json", "", "BASE", kLive, false, 0, 1,
       "the drive is not published, and no host application is installed to publish it"},
      {"another domain only", "org.example.other", "BASE", kLive, false, 0, 1,
       "the drive is not published, and no host application is installed to publish it"},
      {"not a URL", kDomain, "BASE with space", kLive, false, 0, 4,
       "the drive's published address is not an http or https URL"},
      {"not an http URL", kDomain, "ftp://127.0.0.1/", kLive, false, 0, 4,
       "the drive's published address is not an http or https URL"},
  };
  int reads = 0;
  for (size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(c.what);
    const std::string prefix = "/c" + std::to_string(i) + "/";
    if (c.options) server_.on("OPTIONS", prefix, *c.options);
    server_.on("GET", prefix + "f", Reply{.body = "contents"});
    std::string url = c.url.starts_with("BASE") ? server_.url(prefix) + c.url.substr(4) : c.url;
    c.domain.empty() ? env_.unpublish() : env_.publish(c.domain, url);
    server_.clearRequests();

    auto dav = makeDav();
    if (c.found) {
      EXPECT_EQ(dav->send("GET", "/f"), "contents");
    } else {
      auto error = davErrorOf([&] { dav->send("GET", "/f"); });
      EXPECT_EQ(error, DavError::unreachable());
      EXPECT_EQ(error.value_or(DavError::status(0)).cause(), c.cause);
    }
    reads += c.reads;  // once before the launch, once per poll
    EXPECT_EQ(count(server_.requests(), "OPTIONS"), c.probes);
    EXPECT_EQ(env_.drivesReads(), reads);
  }
  EXPECT_TRUE(env_.launches().empty());
}

TEST_F(DavTest, StartsTheHostApplicationOnceAndPollsUntilItPublishes) {
  // The host application publishes at once, but its server needs two more polls to answer.
  env_.onLaunch([&] { env_.publish(kDomain, base_); });
  server_.on("OPTIONS", "/dav/", Reply{.status = 503});
  server_.on("OPTIONS", "/dav/", Reply{.status = 503});
  server_.on("OPTIONS", "/dav/", kLive);
  server_.on("GET", "/dav/f", Reply{.body = "contents"});
  DavTimings timings = fast();
  timings.polls = 5;
  auto dav = makeDav(timings);
  EXPECT_EQ(dav->send("GET", "/f"), "contents");

  auto launches = env_.launches();
  ASSERT_EQ(launches.size(), 1u);
  EXPECT_EQ(launches[0].location, env_.appLocation());
  EXPECT_EQ(launches[0].arguments, Strings{"--login"});
  EXPECT_EQ(env_.drivesReads(), 4);  // before the launch, then three polls
  EXPECT_EQ(lines(server_.requests()),
            (Strings{"OPTIONS /dav/", "OPTIONS /dav/", "OPTIONS /dav/", "GET /dav/f"}));

  // Resolved: the next request neither reads drives.json nor probes.
  server_.clearRequests();
  EXPECT_EQ(dav->send("GET", "/f"), "contents");
  EXPECT_EQ(env_.drivesReads(), 4);
  EXPECT_EQ(lines(server_.requests()), Strings{"GET /dav/f"});
}

TEST_F(DavTest, GivesUpAfterThePollsAndStartsTheApplicationAgainOnTheNextRequest) {
  auto dav = makeDav();  // nothing is published, and the host application publishes nothing
  for (size_t attempt = 1; attempt <= 2; ++attempt) {
    SCOPED_TRACE(attempt);
    EXPECT_EQ(davErrorOf([&] { dav->list("/", 1); }), DavError::unreachable());
    EXPECT_EQ(env_.launches().size(), attempt);
    EXPECT_EQ(env_.drivesReads(), static_cast<int>(attempt) * (1 + fast().polls));
  }
  EXPECT_TRUE(server_.requests().empty());
}

TEST_F(DavTest, AProbeRefusedOrNotTrustedEndsTheResolutionAtOnceWithoutTheHostApplication) {
  TempDir dir;
  FakeServer tls({.tls = selfSignedCertificate(dir)});  // a certificate nobody trusts
  server_.on("OPTIONS", "/401/",
             Reply{.status = 401, .headers = {{"WWW-Authenticate", "Basic realm=\"d\""}}});
  server_.on("OPTIONS", "/403/", Reply{.status = 403});
  struct Case {
    const char* what;
    std::string url;
    bool publishedByTheApplication;  // found at the first poll after the launch instead of before it
    std::string error;               // the DavError's text, or the platform error's domain and code
  } cases[] = {
      {"401", server_.url("/401/"), false, "WebDAV credentials refused (OPTIONS /401/: HTTP 401)"},
      {"403", server_.url("/403/"), false, "WebDAV access forbidden (OPTIONS /403/: HTTP 403)"},
      {"401 once published", server_.url("/401/"), true,
       "WebDAV credentials refused (OPTIONS /401/: HTTP 401)"},
      {"untrusted certificate", tls.url("/dav/"), false, "NSURLErrorDomain -1202"},
  };
  int reads = 0;
  size_t launches = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    env_.onLaunch(nullptr);
    if (c.publishedByTheApplication) {
      env_.unpublish();
      env_.onLaunch([&] { env_.publish(kDomain, c.url); });
    } else {
      env_.publish(kDomain, c.url);
    }
    auto dav = makeDav();
    std::string error;
    try {
      dav->list("/", 1);
    } catch (const DavError& e) {
      error = e.what();
    } catch (const platform::Error& e) {
      error = e.domain() + " " + std::to_string(e.code());
    }
    EXPECT_EQ(error, c.error);
    reads += c.publishedByTheApplication ? 2 : 1;
    launches += c.publishedByTheApplication ? 1 : 0;
    EXPECT_EQ(env_.drivesReads(), reads);  // no more polls
    EXPECT_EQ(env_.launches().size(), launches);
  }
  EXPECT_EQ(count(server_.requests(), "PROPFIND"), 0u);
}

TEST_F(DavTest, TheWaitForTheHostApplicationEndsInTimeHoweverSlowItsProbes) {
  // The host application publishes an address that takes connections and never answers.
  FakeServer silent;
  silent.on("OPTIONS", "/dav/", Reply{.noAnswer = true});
  env_.onLaunch([&] { env_.publish(kDomain, silent.url("/dav/")); });
  DavTimings timings = fast();
  timings.probeTimeout = std::chrono::minutes(10);  // a probe that took its own time would hold the test
  timings.launchWait = 200ms;
  auto dav = makeDav(timings);
  auto request = std::async(std::launch::async, [&] { return davErrorOf([&] { dav->list("/", 1); }); });
  bool inTime = request.wait_for(std::chrono::seconds(60)) == std::future_status::ready;
  silent.stop();  // ends a probe that is still waiting
  EXPECT_TRUE(inTime) << "the wait outlasted its bound";
  auto error = request.get();
  ASSERT_EQ(error, DavError::unreachable());
  EXPECT_TRUE(error->cause().starts_with("OPTIONS /dav/: ")) << error->cause();
  EXPECT_EQ(env_.launches().size(), 1u);
}

TEST_F(DavTest, OnlyNotFoundOrBadGatewayProbeALiveServerAndNothingIsRetried) {
  auto dav = warmDav();
  struct Case {
    int status;
    DavError error;
    bool probed;
  } cases[] = {
      {404, DavError::notFound(), true},   {502, DavError::status(502), true},
      {500, DavError::status(500), false}, {507, DavError::status(507), false},
      {409, DavError::status(409), false}, {401, DavError::forbidden(), false},
      {503, DavError::status(503), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.status);
    const std::string path = "/s" + std::to_string(c.status);
    server_.on("GET", "/dav" + path, Reply{.status = c.status, .body = "refused"});
    server_.on("PROPFIND", "/dav" + path + "/", Reply{.status = c.status, .body = "refused"});
    server_.clearRequests();
    auto downloaded = davErrorOf([&] { dav->download(path); });
    EXPECT_EQ(downloaded, c.error);
    EXPECT_EQ(downloaded.value_or(c.error).cause(), "GET /dav" + path + ": HTTP " + std::to_string(c.status));
    EXPECT_EQ(davErrorOf([&] { dav->list(path, 1); }), c.error);
    Strings sent = {"GET /dav" + path, "PROPFIND /dav" + path + "/"};
    if (c.probed) sent = {sent[0], "OPTIONS /dav/", sent[1], "OPTIONS /dav/"};
    EXPECT_EQ(lines(server_.requests()), sent);
  }
  // Every exchange runs in the same frame.
  server_.clearRequests();
  EXPECT_EQ(davErrorOf([&] { dav->send("MKCOL", "/no/new", {}, std::nullopt, Target::collection); }),
            DavError::notFound());
  EXPECT_EQ(davErrorOf([&] { dav->move("/missing", "/moved"); }), DavError::notFound());
  // A MOVE's missing source is looked into: nothing at the destination, so the move was not done.
  EXPECT_EQ(lines(server_.requests()), (Strings{"MKCOL /dav/no/new/", "OPTIONS /dav/", "MOVE /dav/missing",
                                                "PROPFIND /dav/moved", "OPTIONS /dav/"}));
  EXPECT_TRUE(std::filesystem::is_empty(env_.tmpPath()));
  EXPECT_EQ(env_.drivesReads(), 1);
}

TEST_F(DavTest, A502WhoseProbeFailsTooResolvesAgainAndStartsTheApplication) {
  // A gateway whose backend went away: it answered the first probe, then 502 to everything.
  FakeServer gateway;
  gateway.on("OPTIONS", "/dav/", kLive);
  gateway.on("OPTIONS", "/dav/", Reply{.status = 502});
  gateway.on("PROPFIND", "/dav/", Reply{.status = 502});
  env_.publish(kDomain, gateway.url("/dav/"));
  // The host application publishes the drive at its new address.
  env_.onLaunch([&] { env_.publish(kDomain, base_); });
  server_.on("PROPFIND", "/dav/", listing({{"/dav/", true}, {"/dav/a.txt", false, 3}}));

  auto dav = makeDav();
  auto entries = dav->list("/", 1);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[1].path, "/a.txt");

  // First resolution, the request, the probe after the 502, and the new resolution's probe: no retry there.
  EXPECT_EQ(lines(gateway.requests()),
            (Strings{"OPTIONS /dav/", "PROPFIND /dav/", "OPTIONS /dav/", "OPTIONS /dav/"}));
  EXPECT_EQ(env_.launches().size(), 1u);
  EXPECT_EQ(lines(server_.requests()), (Strings{"OPTIONS /dav/", "PROPFIND /dav/"}));
}

// A lost connection or a timeout: no probe decides about a transport failure; a new resolution probes the same
// published URL and the request is retried once.
TEST_F(DavTest, ALostConnectionOrATimeoutIsRetriedOnceAndThenEndsUnreachable) {
  DavTimings timings = fast();
  timings.requestTimeout = 200ms;  // short only to keep the test fast
  auto dav = warmDav(timings);
  // One body answers for every folder listed below, so it holds each one's own entry.
  std::vector<Listed> many = {
      {"/dav/lost0/", true}, {"/dav/lost1/", true}, {"/dav/lost2/", true}, {"/dav/lost3/", true}};
  for (int i = 0; i < 400; ++i) many.push_back({"/dav/big/entry-" + std::to_string(i) + ".txt", false, i});
  Reply big = listing(many);
  Reply cut = big;
  cut.dropAfterBytes = big.body.size() / 2;  // in the middle of the body: some entries were parsed already

  struct Case {
    const char* what;
    std::vector<Reply> replies;  // the last one repeats
    bool succeeds;
  } cases[] = {
      {"lost before the answer, twice", {Reply{.dropAfterBytes = 0}}, false},
      {"lost in the middle of the body, twice", {cut}, false},
      {"lost in the middle of the body, once", {cut, big}, true},
      {"silent once", {Reply{.noAnswer = true}, big}, true},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(c.what);
    const std::string path = "/lost" + std::to_string(i);
    for (const auto& reply : c.replies) server_.on("PROPFIND", "/dav" + path + "/", reply);
    server_.clearRequests();
    if (c.succeeds) {
      EXPECT_EQ(dav->list(path, 1).size(), many.size());  // the retry's listing alone: nothing of the cut one
    } else {
      auto error = davErrorOf([&] { dav->list(path, 1); }).value_or(DavError::status(0));
      EXPECT_EQ(error, DavError::unreachable());
      // Because of the lost connection: the exchange, then libcurl's words.
      EXPECT_TRUE(error.cause().starts_with("PROPFIND /dav" + path + "/: ")) << error.cause();
    }
    // The transport itself sends a request once more on a fresh connection when a reused one ends before any
    // answer (an idle connection the server has just closed); what counts here is one retry by the client.
    const std::string propfind = "PROPFIND /dav" + path + "/";
    auto sent = lines(server_.requests());
    sent.erase(std::unique(sent.begin(), sent.end()), sent.end());
    EXPECT_EQ(sent, (Strings{propfind, "OPTIONS /dav/", propfind}));
  }
  EXPECT_TRUE(env_.launches().empty());
}

TEST_F(DavTest, AServerThatStillRefusesConnectionsAfterANewResolutionEndsUnreachable) {
  FakeServer old;
  auto dav = warmDav(old.url("/dav/"));
  old.stop();
  EXPECT_EQ(davErrorOf([&] { dav->send("GET", "/f"); }), DavError::unreachable());
  EXPECT_EQ(env_.drivesReads(), 1 + 1 + fast().polls);
  EXPECT_EQ(env_.launches().size(), 1u);
}

TEST_F(DavTest, CancellingARequestWaitingForTheResolutionLeavesItRunningForOthers) {
  env_.publish(kDomain, base_);
  server_.on("GET", "/dav/f", Reply{.body = "contents"});
  auto dav = makeDav();
  env_.closeGate();
  auto first = platform::spawnTask([dav] { return dav->send("GET", "/f"); });
  ASSERT_TRUE(env_.waitAtGate());
  first.job().cancel();
  EXPECT_THROW(first.get(), platform::Cancelled);

  env_.openGate();
  EXPECT_EQ(dav->send("GET", "/f"), "contents");
  EXPECT_EQ(env_.drivesReads(), 1);
  EXPECT_EQ(lines(server_.requests()), (Strings{"OPTIONS /dav/", "GET /dav/f"}));
}

}  // namespace
}  // namespace davfp::testing
