// The fake server's own promises that the session tests do not exercise: chunked request bodies, the order of
// scripted replies, its default answers, and a port that refuses after stop().
#include "support/fake_server.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/error.h"
#include "platform/url_session.h"

namespace davfp::testing {
namespace {

using Reply = FakeServer::Reply;

// Connects to the server, sends raw bytes and reads until the server closes the connection.
std::string exchange(const FakeServer& server, const std::string& bytes) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(server.port()));
  EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  EXPECT_EQ(::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
  std::string answer;
  char buffer[4096];
  for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;)
    answer.append(buffer, static_cast<size_t>(n));
  ::close(fd);
  return answer;
}

TEST(FakeServerTest, ReadsChunkedBodiesAndAnswersContinue) {
  FakeServer server;
  server.on("PUT", "/c", Reply{.status = 201, .closeAfter = true});
  std::string answer =
      exchange(server,
               "PUT /c HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\nExpect: 100-continue\r\n\r\n"
               "5\r\nhello\r\n7;ext=1\r\n, world\r\n0\r\nX-Trailer: t\r\n\r\n");
  EXPECT_EQ(answer.rfind("HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 201 Created\r\n", 0), 0u) << answer;
  auto received = server.requests();
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0].body, "hello, world");
  EXPECT_EQ(received[0].connection, 1);
}

TEST(FakeServerTest, RepliesInOrderThenDefaultsThenRefusesAfterStop) {
  FakeServer server;
  server.on("GET", "/r", Reply{.body = "one"});
  server.on("GET", "/r", Reply{.status = 500, .body = "two"});
  server.setHandler([](const FakeServer::Received& r) { return Reply{.status = 202, .body = r.method}; });
  platform::UrlSession session;
  auto get = [&](const char* method, const char* target) {
    return session.data(platform::HttpRequest{.method = method, .url = server.url(target)});
  };
  EXPECT_EQ(get("GET", "/r").body, "one");
  EXPECT_EQ(get("GET", "/r").body, "two");
  EXPECT_EQ(get("GET", "/r").body, "two");  // the last reply repeats
  auto options = get("OPTIONS", "/any/");
  EXPECT_EQ(options.response.status, 200);
  EXPECT_EQ(options.response.header("DAV"), "1, 2");
  EXPECT_EQ(get("MKCOL", "/other").response.status, 202);
  EXPECT_EQ(server.requests().size(), 5u);

  server.stop();
  EXPECT_THROW(get("GET", "/r"), platform::Error);
  server.stop();  // again: nothing left to do
}

}  // namespace
}  // namespace davfp::testing
