// The real servers harness itself: every kind starts, answers the exchanges the engine relies on, and
// leaves nothing listening when stopped.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "support/curl_request.h"
#include "support/real_server.h"
#include "support/temp_dir.h"

namespace davfp::testing {

// Test names and failure messages show the kind by name.
void PrintTo(ServerKind kind, std::ostream* out) { *out << serverName(kind); }

namespace {

// True when something accepts connections on the loopback port.
bool listening(int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port));
  bool connected = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return connected;
}

class RealServersTest : public ::testing::TestWithParam<ServerKind> {
 protected:
  void SetUp() override {
    // A server that drops root must reach its folder: TempDir is private (0700) by default.
    ASSERT_EQ(::chmod(tmp_.path().c_str(), 0755), 0);
    std::filesystem::create_directory(root_);
  }

  TempDir tmp_;
  const std::string root_ = tmp_.file("root");
};

TEST_P(RealServersTest, AnswersTheEngineExchangesAndStopsCleanly) {
  writeFile(root_ + "/placed.txt", "placed behind the server's back");
  auto server = RealServer::start(GetParam(), root_);
  server->adopt(root_ + "/placed.txt");
  const std::string base = server->baseUrl();
  EXPECT_EQ(base, "http://127.0.0.1:" + std::to_string(server->port()) + "/dav/");
  SCOPED_TRACE(server->name() + " at " + base);

  HttpResponse options = curlRequest({.method = "OPTIONS", .url = base});
  EXPECT_EQ(options.status, 200);
  EXPECT_TRUE(options.header("DAV").has_value());

  HttpResponse listing = curlRequest({.method = "PROPFIND",
                                      .url = base,
                                      .headers = {"Depth: 1", "Content-Type: application/xml"},
                                      .body = "<?xml version=\"1.0\" encoding=\"utf-8\"?>"
                                              "<D:propfind xmlns:D=\"DAV:\"><D:allprop/></D:propfind>"});
  EXPECT_EQ(listing.status, 207);
  EXPECT_NE(listing.body.find("/dav/placed.txt"), std::string::npos) << listing.body;

  std::string bytes;
  for (int i = 0; i < 3 * 256; ++i) bytes += static_cast<char>(i % 256);  // every byte value, NUL included
  HttpResponse put = curlRequest({.method = "PUT",
                                  .url = base + "put.bin",
                                  .headers = {"Content-Type: application/octet-stream"},
                                  .body = bytes});
  EXPECT_TRUE(put.status == 201 || put.status == 204) << put.status;
  HttpResponse get = curlRequest({.method = "GET", .url = base + "put.bin"});
  EXPECT_EQ(get.status, 200);
  EXPECT_EQ(get.body, bytes);
  EXPECT_EQ(readFile(root_ + "/put.bin"), bytes);

  HttpResponse mkcol = curlRequest({.method = "MKCOL", .url = base + "folder/"});
  EXPECT_EQ(mkcol.status, 201);
  EXPECT_TRUE(std::filesystem::is_directory(root_ + "/folder"));

  const int port = server->port();
  server->stop();
  EXPECT_FALSE(listening(port));
  server->stop();  // again: nothing to do
}

TEST_P(RealServersTest, ServesAnyPrefixAndFailsClearlyOnABadRoot) {
  auto server = RealServer::start(GetParam(), root_, "/a/b-c/");
  EXPECT_EQ(curlRequest({.method = "OPTIONS", .url = server->baseUrl()}).status, 200);
  EXPECT_EQ(curlRequest({.method = "MKCOL", .url = server->baseUrl() + "made/"}).status, 201);
  EXPECT_TRUE(std::filesystem::is_directory(root_ + "/made"));
  server.reset();

  EXPECT_THROW(RealServer::start(GetParam(), tmp_.file("missing")), std::invalid_argument);
  EXPECT_THROW(RealServer::start(GetParam(), root_, "dav"), std::invalid_argument);
}

std::string kindName(const ::testing::TestParamInfo<ServerKind>& param) { return serverName(param.param); }

INSTANTIATE_TEST_SUITE_P(Servers, RealServersTest, ::testing::ValuesIn(allServerKinds()), kindName);

}  // namespace
}  // namespace davfp::testing
