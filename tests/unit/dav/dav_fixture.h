// The fixture of the WebDAV client's tests: an Env whose drives.json a test writes, a fake server, clients of
// one domain, and helpers that read what the server received.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "dav/dav.h"
#include "support/dav_test_util.h"
#include "support/fake_server.h"
#include "support/test_env.h"

namespace davfp::testing {

using Strings = std::vector<std::string>;
using Reply = FakeServer::Reply;

inline Reply listing(const std::vector<Listed>& entries) {
  return Reply{.status = 207, .headers = {{"Content-Type", "text/xml"}}, .body = multistatus(entries)};
}

// "METHOD target" of each request.
inline Strings lines(const std::vector<FakeServer::Received>& requests) {
  Strings out;
  for (const auto& r : requests) out.push_back(r.method + " " + r.target);
  return out;
}

inline size_t count(const std::vector<FakeServer::Received>& requests, std::string_view method) {
  return std::count_if(requests.begin(), requests.end(), [&](const auto& r) { return r.method == method; });
}

class DavFixture : public ::testing::Test {
 protected:
  static constexpr const char* kDomain = "org.example.docs";

  // Polls one millisecond apart, so that giving up takes no time; every other timing as in the product.
  static DavTimings fast() { return DavTimings{.pollInterval = std::chrono::milliseconds(1), .polls = 3}; }

  std::shared_ptr<Dav> makeDav(DavTimings timings = fast()) { return Dav::create(kDomain, env_, timings); }

  // A client that has resolved url already (the server's /dav/ unless given); the server's record is cleared.
  std::shared_ptr<Dav> warmDav(const std::string& url = "", DavTimings timings = fast()) {
    env_.publish(kDomain, url.empty() ? base_ : url);
    auto dav = makeDav(timings);
    dav->send("OPTIONS", "/");  // the fake server answers every OPTIONS
    server_.clearRequests();
    return dav;
  }

  TestEnv env_;  // outlives every server and client of a test
  FakeServer server_;
  const std::string base_ = server_.url("/dav/");
};

}  // namespace davfp::testing
