// Server resolution and the frame every exchange runs in: finding the published drive in drives.json,
// probing it, starting the host application, and the one retry after a lost server.
#include "dav/dav.h"
#include "dav/drive_config.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>

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
    const int reads = env_.drivesReads;
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
    EXPECT_EQ(env_.drivesReads, reads + 1);
    EXPECT_EQ(count(server_.requests(), "OPTIONS"), 1u);
    EXPECT_EQ(count(server_.requests(), "GET"), 8u);
  }
  EXPECT_EQ(env_.launches, 0);
}

TEST_F(DavTest, AcceptsOnlyAPublishedURLWhoseServerAnswersAsAWebDavServer) {
  env_.appInstalled = false;
  struct Case {
    const char* what;
    std::string domain, url;  // published; a url "BASE" is the case's own base URL; no domain: no drives.json
    std::optional<Reply> options;
    bool found;
    size_t probes;  // without the DAV header the server is no WebDAV server: probed again at every poll
    int reads;      // of drives.json: a drive that is not listed, with no host application, is not waited for
  } cases[] = {
      {"DAV header", kDomain, "BASE", kLive, true, 1, 1},
      {"no DAV header", kDomain, "BASE", Reply{.headers = {{"Allow", "GET, PUT"}}}, false, 4, 4},
      {"DAV header on a 404", kDomain, "BASE", Reply{.status = 404, .headers = {{"DAV", "1"}}}, false, 4, 4},
      {"no drives.json", "", "BASE", kLive, false, 0, 1},
      {"another domain only", "org.example.other", "BASE", kLive, false, 0, 1},
      {"not a URL", kDomain, "BASE with space", kLive, false, 0, 4},
      {"not an http URL", kDomain, "ftp://127.0.0.1/", kLive, false, 0, 4},
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
      EXPECT_EQ(davErrorOf([&] { dav->send("GET", "/f"); }), DavError::unreachable());
    }
    reads += c.reads;  // once before the launch, once per poll
    EXPECT_EQ(count(server_.requests(), "OPTIONS"), c.probes);
    EXPECT_EQ(env_.drivesReads, reads);
  }
  EXPECT_EQ(env_.launches, 0);
}

TEST_F(DavTest, AProbeRefusedOrNotTrustedEndsTheResolutionAtOnceWithoutTheHostApplication) {
  TempDir dir;
  FakeServer tls(selfSignedCertificate(dir));  // a certificate nobody trusts
  server_.on("OPTIONS", "/401/",
             Reply{.status = 401, .headers = {{"WWW-Authenticate", "Basic realm=\"d\""}}});
  server_.on("OPTIONS", "/403/", Reply{.status = 403});
  struct Case {
    const char* what;
    std::string url;
    std::string error;  // the DavError's text, or the platform error's domain and code
  } cases[] = {
      {"401", server_.url("/401/"), "WebDAV credentials refused (OPTIONS /401/: HTTP 401)"},
      {"403", server_.url("/403/"), "WebDAV access forbidden (OPTIONS /403/: HTTP 403)"},
      {"untrusted certificate", tls.url("/dav/"), "NSURLErrorDomain -1202"},
  };
  int reads = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    env_.publish(kDomain, c.url);
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
    EXPECT_EQ(env_.drivesReads, ++reads);  // no polls
  }
  EXPECT_EQ(env_.launches, 0);
  EXPECT_EQ(count(server_.requests(), "PROPFIND"), 0u);
}

TEST_F(DavTest, OnlyNotFoundOrBadGatewayProbeALiveServerAndNothingIsRetried) {
  auto dav = warmDav();
  struct Case {
    int status;
    DavError error;
    bool probed;
  } cases[] = {
      {404, DavError::notFound(), true},
      {502, DavError::status(502), true},
      {500, DavError::status(500), false},
      {401, DavError::forbidden(), false},
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
  EXPECT_TRUE(std::filesystem::is_empty(env_.tmpPath()));
  EXPECT_EQ(env_.drivesReads, 1);
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
  EXPECT_EQ(env_.drivesReads, 1);
  EXPECT_EQ(lines(server_.requests()), (Strings{"OPTIONS /dav/", "GET /dav/f"}));
}

const DriveInfo kDrive{"Docs", "http://127.0.0.1:8080/dav/"};
const std::string kEntry = R"({"name":"Docs","url":"http://127.0.0.1:8080/dav/"})";

TEST(DriveConfigTest, LooksTheDomainUpInAFileThatDecodesWhole) {
  TestEnv env;
  std::filesystem::create_directories(env.groupPath());
  std::string deep(200000, '[');
  deep += std::string(200000, ']');
  const std::string padded = R"({"d":{"name":"N","url":"u","pad":")" + std::string(8 << 20, 'x');
  struct Case {
    const char* what;
    std::string file;
    std::string domain;
    std::optional<DriveInfo> drive;
  } cases[] = {
      {"found", "{\"d\":" + kEntry + "}", "d", kDrive},
      {"other domain", "{\"e\":" + kEntry + "}", "d", std::nullopt},
      {"composed file, decomposed domain", "{\"caf\u00e9\":" + kEntry + "}", "cafe\u0301", kDrive},
      {"extra members ignored", R"({"d":{"x":[1,{"y":null}],"url":"u","name":"N","z":{}}})", "d",
       DriveInfo{"N", "u"}},
      {"deeply nested extra member", "{\"d\":{\"name\":\"N\",\"url\":\"u\",\"x\":" + deep + "}}", "d",
       DriveInfo{"N", "u"}},
      {"empty file", "", "d", std::nullopt},
      {"trailing bytes", "{\"d\":" + kEntry + "}x", "d", std::nullopt},
      {"nesting without end", deep.substr(0, 200000), "d", std::nullopt},
      {"many megabytes", padded + "\"}}", "d", DriveInfo{"N", "u"}},
      {"many megabytes in a string without end", padded + "}}", "d", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    writeFile(env.groupPath() + "/drives.json", c.file);
    EXPECT_EQ(driveInfo(c.domain, env), c.drive);
  }
}

}  // namespace
}  // namespace davfp::testing
