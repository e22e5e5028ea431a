// The davfp program while the engine finds the drive's server: an address that refuses the credentials or
// whose certificate is not trusted ends the command at once, and -v says why.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "support/fake_server.h"
#include "support/host_drive.h"

namespace davfp::testing {
namespace {

TEST(DavfpResolutionTest, RefusedCredentialsAndUntrustedCertificatesEndTheCommandAtOnce) {
  HostDrive drive;
  TempDir tmp;
  ASSERT_EQ(::chmod(tmp.path().c_str(), 0755), 0);  // Apache serves as www-data when the tests run as root
  std::filesystem::create_directories(tmp.file("root/docs"));
  auto apache =
      RealServer::start(ServerKind::apache, tmp.file("root"), BasicAuth{"zeta", "right-Pa55"});
  FakeServer tls({.tls = selfSignedCertificate(tmp)});
  struct Case {
    const char* what;
    std::string url;
    std::string line;  // stderr, up to the cause
  } cases[] = {
      {"a wrong password", apache->baseUrl("zeta:wrong-Pa55@"),
       "davfp: /: the server refused the credentials for drive \"t\" (401) (NSFileProviderErrorDomain -1000; "
       "OPTIONS /dav/: HTTP 401)\n"},
      {"an untrusted certificate", tls.url("/dav/", "zeta:wrong-Pa55@"),
       "davfp: /: the server cannot be reached (NSFileProviderErrorDomain -1004; OPTIONS /dav/: SSL "
       "certificate problem: "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    drive.publish({{kTestDomain, {kTestDriveName, c.url}}});
    ProcessResult r = drive.davfp({"-v", "ls"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.err.starts_with(c.line)) << r.err;
    EXPECT_EQ(r.err.find("wrong-Pa55"), std::string::npos) << r.err;
  }
  // The right password opens the drive.
  drive.publish({{kTestDomain, {kTestDriveName, apache->baseUrl("zeta:right-Pa55@")}}});
  ProcessResult r = drive.davfp({"ls"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "docs/\n");
}

}  // namespace
}  // namespace davfp::testing
