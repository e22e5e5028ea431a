// Setting the host application up: publishing checks the address first, the default drive that davfp uses
// without --domain, and the installation under a prefix.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/fake_server.h"
#include "support/host_drive.h"

namespace davfp::testing {
namespace {

using nlohmann::json;

class HostAppSetupTest : public ::testing::Test {
 protected:
  ~HostAppSetupTest() override { host({"stop"}); }

  ProcessResult host(const std::vector<std::string>& args) {
    std::vector<std::string> argv{hostAppProgram()};
    argv.insert(argv.end(), args.begin(), args.end());
    return runProcess(argv, drive_.environment());
  }

  std::string configFile() const { return drive_.home() + "/.config/org.davfp.host/drives.tsv"; }
  std::string defaultFile() const { return drive_.dataHome() + "/org.davfp.shared/default-drive"; }
  std::string configured() const { return fileExists(configFile()) ? readFile(configFile()) : ""; }

  // Expects a refused publish: status 1, the message, nothing saved.
  void expectRefused(const std::vector<std::string>& args, const std::string& message) {
    SCOPED_TRACE(::testing::PrintToString(args));
    std::string before = configured();
    ProcessResult r = host(args);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
    EXPECT_EQ(configured(), before);
  }

  HostDrive drive_;
};

TEST_F(HostAppSetupTest, PublishChecksTheAddressBeforeSavingIt) {
  auto apache =
      RealServer::start(ServerKind::apache, drive_.served(), "/dav/", BasicAuth{"zeta", "right-Pa55"});
  std::string wrong = drive_.scratch() + "/wrong", right = drive_.scratch() + "/right";
  writeFile(wrong, "wrong-Pa55\n");
  writeFile(right, "right-Pa55\n");
  expectRefused({"publish", "a", apache->baseUrl(), "--user", "zeta", "--password-file", wrong},
                "the server refused these credentials");
  expectRefused({"publish", "a", apache->baseUrl()}, "the server asks for credentials");

  // A web server that is no WebDAV server: it answers OPTIONS without a DAV header.
  FakeServer plain;
  plain.on("OPTIONS", "/files/",
           FakeServer::Reply{.status = 200, .headers = {{"Allow", "GET, HEAD, OPTIONS"}}});
  expectRefused({"publish", "p", plain.url("/files/")}, "this address is not a WebDAV folder");

  // Nothing listens on a port that a stopped server had.
  int port = 0;
  {
    FakeServer gone;
    port = gone.port();
  }
  expectRefused({"publish", "g", "http://127.0.0.1:" + std::to_string(port) + "/dav/"}, "cannot reach");
  EXPECT_FALSE(fileExists(drive_.drivesFile()));

  // The right password is accepted; --no-check saves an address unchecked, as it is.
  ProcessResult ok = host({"publish", "a", apache->baseUrl(), "--user", "zeta", "--password-file", right});
  EXPECT_EQ(ok.status, 0) << ok.err;
  ProcessResult unchecked = host({"publish", "p", plain.url("/files/"), "--no-check"});
  EXPECT_EQ(unchecked.status, 0) << unchecked.err;
  json drives = json::parse(readFile(drive_.drivesFile()));
  EXPECT_EQ(drives["a"]["url"], apache->baseUrl("zeta:right-Pa55@"));
  EXPECT_EQ(drives["p"]["url"], plain.url("/files/"));
  EXPECT_FALSE(drives.contains("g"));
  // The working drive works with its checked credentials.
  drive_.placeOnServer("hello.txt", "hi\n");
  EXPECT_EQ(drive_.davfp({"--domain", "a", "ls"}).out, "hello.txt\n");
}

TEST_F(HostAppSetupTest, TheDefaultDriveIsWhatDavfpUsesWithoutDomain) {
  drive_.placeOnServer("hello.txt", "hi\n");
  drive_.serve();
  const std::string url = drive_.server().baseUrl();
  ASSERT_EQ(host({"publish", "one", url, "--name", "One"}).status, 0);
  // The only drive published is the default without asking.
  EXPECT_EQ(host({"default"}).out, "one\n");
  EXPECT_EQ(drive_.davfp({"ls"}).out, "hello.txt\n");

  // Two drives and no default: davfp names them and fails.
  ASSERT_EQ(host({"publish", "two", url, "--name", "Two"}).status, 0);
  ProcessResult none = host({"default"});
  EXPECT_EQ(none.status, 1);
  EXPECT_NE(none.err.find("no default drive"), std::string::npos) << none.err;
  ProcessResult several = drive_.davfp({"ls"});
  EXPECT_EQ(several.status, 1);
  EXPECT_NE(several.err.find("one (\"One\"), two (\"Two\")"), std::string::npos) << several.err;
  ProcessResult severalJson = drive_.davfp({"item", "root"});
  EXPECT_EQ(severalJson.status, 1);
  EXPECT_EQ(jsonLines(severalJson.out).size(), 1u) << severalJson.out;

  // A default chosen: davfp uses it; --domain and DAVFP_DOMAIN still win.
  EXPECT_EQ(host({"default", "nosuch"}).status, 1);
  ASSERT_EQ(host({"default", "two"}).status, 0);
  EXPECT_EQ(host({"default"}).out, "two\n");
  EXPECT_EQ(jsonLines(drive_.davfp({"item", "root"}).out).at(0)["name"], "Two");
  EXPECT_EQ(jsonLines(drive_.davfp({"--domain", "one", "item", "root"}).out).at(0)["name"], "One");
  EXPECT_EQ(jsonLines(drive_.davfp({"item", "root"}, {"DAVFP_DOMAIN=one"}).out).at(0)["name"], "One");

  // Removing the default drive clears the default; the one left is the default again.
  ASSERT_EQ(host({"remove", "two"}).status, 0);
  EXPECT_FALSE(fileExists(defaultFile()));
  EXPECT_EQ(host({"default"}).out, "one\n");
  EXPECT_EQ(jsonLines(drive_.davfp({"item", "root"}).out).at(0)["name"], "One");
  // Removing another drive leaves the default alone.
  ASSERT_EQ(host({"publish", "three", url}).status, 0);
  ASSERT_EQ(host({"default", "one"}).status, 0);
  ASSERT_EQ(host({"remove", "three"}).status, 0);
  EXPECT_EQ(host({"default"}).out, "one\n");

  // No drive at all: status 1 with and without --domain.
  ASSERT_EQ(host({"remove", "one"}).status, 0);
  ProcessResult nothing = drive_.davfp({"ls"});
  EXPECT_EQ(nothing.status, 1) << nothing.err;
  EXPECT_NE(nothing.err.find("no drive is published"), std::string::npos) << nothing.err;
  EXPECT_EQ(drive_.davfp({"--domain", "one", "ls"}).status, 1);
}

TEST_F(HostAppSetupTest, InstallPutsProgramsManualCompletionAndEntryUnderThePrefix) {
  const std::string prefix = drive_.scratch() + "/prefix";
  const std::string installer =
      std::filesystem::path(hostAppProgram()).parent_path().parent_path().string() + "/install.sh";
  ProcessResult r = runProcess({installer, davfpProgram(), prefix}, drive_.environment());
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  for (const char* file :
       {"/bin/davfp", "/bin/davfp-host", "/share/man/man1/davfp.1",
        "/share/bash-completion/completions/davfp", "/share/applications/org.davfp.host.desktop"}) {
    EXPECT_TRUE(fileExists(prefix + file)) << file;
  }
  EXPECT_EQ(readFile(prefix + "/share/man/man1/davfp.1").rfind(".TH DAVFP 1", 0), 0u);
  std::string entry = readFile(prefix + "/share/applications/org.davfp.host.desktop");
  EXPECT_NE(entry.find("Exec=" + prefix + "/bin/davfp-host --login\n"), std::string::npos) << entry;
  // The installed programs run, and the host application finds the installed davfp beside it.
  EXPECT_EQ(runProcess({prefix + "/bin/davfp", "--version"}, drive_.environment()).status, 0);
  EXPECT_EQ(runProcess({prefix + "/bin/davfp-host", "list"}, drive_.environment()).status, 0);
}

}  // namespace
}  // namespace davfp::testing
