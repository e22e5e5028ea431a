// The session's limit on exchanges at once: a burst of requests shares a few connections, and a request
// waiting for its turn can be cancelled.
#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>

#include "platform/error.h"
#include "platform/jobs.h"
#include "platform/url_session.h"
#include "support/fake_server.h"
#include "unit/platform/url_session_test_util.h"

namespace davfp::platform {
namespace {

using testing::FakeServer;
using Reply = FakeServer::Reply;
using test::errorFrom;
using test::request;

// Holds every request until released, and remembers how many were held at once.
class Gate {
 public:
  Reply pass(const FakeServer::Received& r) {
    std::unique_lock lock(mu_);
    ++waiting_;
    most_ = std::max(most_, waiting_);
    cv_.notify_all();
    cv_.wait_for(lock, std::chrono::seconds(20), [&] { return open_; });
    --waiting_;
    return Reply{.body = "answer to " + r.target};
  }
  // Waits until n requests are held at once.
  bool holding(int n) {
    std::unique_lock lock(mu_);
    return cv_.wait_for(lock, std::chrono::seconds(20), [&] { return waiting_ >= n; });
  }
  void open() {
    std::lock_guard lock(mu_);
    open_ = true;
    cv_.notify_all();
  }
  int most() {
    std::lock_guard lock(mu_);
    return most_;
  }

 private:
  std::mutex mu_;
  std::condition_variable cv_;
  int waiting_ = 0, most_ = 0;
  bool open_ = false;
};

TEST(UrlSessionLimitTest, ABurstOfRequestsUsesNoMoreConnectionsThanTheLimit) {
  constexpr int kRequests = 3 * UrlSession::kMaxConnections;
  Gate gate;
  FakeServer server;
  server.setHandler([&](const FakeServer::Received& r) { return gate.pass(r); });
  UrlSession session;
  std::vector<std::string> bodies(kRequests);
  std::vector<std::thread> threads;
  for (int i = 0; i < kRequests; ++i) {
    threads.emplace_back([&, i] {
      try {
        bodies[i] = session.data(request("GET", server.url("/" + std::to_string(i)))).body;
      } catch (const std::exception& e) {
        bodies[i] = e.what();
      }
    });
  }
  // The limit is reached, and the others wait instead of opening connections of their own.
  ASSERT_TRUE(gate.holding(UrlSession::kMaxConnections));
  gate.open();
  for (auto& t : threads) t.join();
  for (int i = 0; i < kRequests; ++i) EXPECT_EQ(bodies[i], "answer to /" + std::to_string(i));
  EXPECT_EQ(gate.most(), UrlSession::kMaxConnections);
  EXPECT_EQ(server.connections(), UrlSession::kMaxConnections);
  EXPECT_EQ(session.connectionsOpened(), UrlSession::kMaxConnections);
}

TEST(UrlSessionLimitTest, CancellingARequestThatWaitsForItsTurnEndsItAtOnce) {
  FakeServer server;
  server.on("GET", "/busy", Reply{.noAnswer = true});
  UrlSession session;
  std::vector<Job> busy;
  for (long i = 0; i < UrlSession::kMaxConnections; ++i) {
    busy.push_back(spawn([&] { (void)errorFrom([&] { session.data(request("GET", server.url("/busy"))); }); }));
  }
  ASSERT_TRUE(server.waitForRequests(UrlSession::kMaxConnections));

  std::promise<long> outcome;
  Job waiting = spawn([&] {
    auto error = errorFrom([&] { session.data(request("GET", server.url("/waiting"))); });
    outcome.set_value(error ? error->code() : 0);
  });
  waiting.cancel();
  auto ended = outcome.get_future();
  ASSERT_EQ(ended.wait_for(std::chrono::seconds(20)), std::future_status::ready) << "the waiting request did not end";
  EXPECT_EQ(ended.get(), urlerr::kCancelled);
  waiting.wait();

  for (auto& job : busy) job.cancel();
  for (auto& job : busy) job.wait();
  // The slots of the cancelled exchanges are free again.
  EXPECT_EQ(session.data(request("GET", server.url("/after"))).response.status, 404);
  for (const auto& r : server.requests()) EXPECT_NE(r.target, "/waiting");
}

}  // namespace
}  // namespace davfp::platform
