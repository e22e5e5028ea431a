// The fixture of the tests run against every real WebDAV server: a served folder that a server which drops
// root can still reach, files placed in it behind the server's back, and the server started on it.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <memory>
#include <string>

#include "support/real_server.h"
#include "support/temp_dir.h"

namespace davfp::testing {

class RealServersTest : public ::testing::TestWithParam<ServerKind> {
 protected:
  void SetUp() override {
    // TempDir is private (0700) by default.
    ASSERT_EQ(::chmod(tmp_.path().c_str(), 0755), 0);
    std::filesystem::create_directory(root_);
  }

  // Starts the server of the test's kind on the served folder, under the URL path prefix.
  RealServer& serve(const std::string& prefix = "/dav/") {
    server_ = RealServer::start(GetParam(), root_, prefix);
    server_->adopt(root_);
    return *server_;
  }

  // Writes a file into the served folder behind the server's back; adopt() it once a server runs.
  void place(const std::string& relative, const std::string& bytes) {
    std::filesystem::create_directories(std::filesystem::path(disk("/" + relative)).parent_path());
    writeFile(disk("/" + relative), bytes);
  }

  // The served folder's file of a server path.
  std::string disk(const std::string& path) const { return root_ + path; }

  TempDir tmp_;
  const std::string root_ = tmp_.file("root");
  std::unique_ptr<RealServer> server_;
};

#define DAVFP_ON_EVERY_SERVER(Suite)                                              \
  INSTANTIATE_TEST_SUITE_P(Servers, Suite, ::testing::ValuesIn(allServerKinds()), \
                           [](const auto& kind) { return serverName(kind.param); })

}  // namespace davfp::testing
