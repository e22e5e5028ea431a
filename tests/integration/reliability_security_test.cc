// Security checks through the extension: credentials of the published URL stay in the URL (also when a
// download is redirected to another origin), authorities named by the environment are trusted, and a domain
// identifier cannot place the state file anywhere but in the
// extension's own directory, which is the user's alone.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "platform/error.h"
#include "platform/url_session.h"
#include "support/served_tree.h"
#include "support/fake_server.h"
#include "support/test_drive.h"

namespace davfp::testing {
namespace {

namespace fs = std::filesystem;
using platform::kRootContainerItemIdentifier;
using namespace platform::field;

// A password that reads the same percent-encoded or not, and a user name rare enough to search for.
constexpr std::string_view kUser = "zeta-user";
constexpr std::string_view kSecret = "s3cr3t-Pa55";

bool leaks(std::string_view text) {
  return text.find(kSecret) != std::string_view::npos || text.find(kUser) != std::string_view::npos;
}

// Every file and directory below dir, by path relative to it.
std::vector<std::string> everythingBelow(const std::string& dir) {
  std::vector<std::string> out;
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    out.push_back(fs::relative(entry.path(), dir).string());
  }
  return out;
}

TEST(SecurityTest, CredentialsOfThePublishedUrlGoNowhereElse) {
  FakeServer other;  // another origin that a download is redirected to
  other.setHandler([](const FakeServer::Received&) { return FakeServer::Reply{.body = "beta"}; });
  FakeServer server;
  ServedTree tree{server};  // stops the server before it goes
  tree.folder("/docs");
  tree.file("/docs/a.txt", "alpha");
  tree.file("/moved.txt", "beta");
  // The download asks for the credentials first, so that the request that is redirected carries them.
  server.on("GET", "/dav/moved.txt", {.status = 401, .headers = {{"WWW-Authenticate", "Basic realm=\"d\""}}});
  server.on("GET", "/dav/moved.txt", {.status = 302, .headers = {{"Location", other.url("/x")}}});
  TestDrive drive("http://" + std::string(kUser) + ":" + std::string(kSecret) + "@127.0.0.1:" +
                      std::to_string(server.port()) + "/dav/",
                  TestDrive::quickTimings());
  std::vector<platform::Error> errors;
  auto note = [&](const std::optional<platform::Error>& error) {
    if (error) errors.push_back(*error);
  };

  // Every kind of request, successful.
  ASSERT_FALSE(drive.enumerate(kRootContainerItemIdentifier)->error());
  const std::string docs = drive.state().id("/docs");
  auto listed = drive.enumerate(docs);
  ASSERT_EQ(listed->items().size(), 1u);
  const std::string a = listed->items()[0]->itemIdentifier();
  note(drive.fetch(a).error);
  note(drive.fetch(drive.state().id("/moved.txt")).error);
  note(drive.create(TemplateItem::file("b.txt", docs), drive.contents("beta")).error);
  note(drive.modify(TemplateItem::file("renamed.txt", docs, a), kFilename | kContents, drive.contents("new"))
           .error);
  note(drive.changes()->error());
  note(drive.remove(drive.state().id("/docs/b.txt"), tree.etag("/docs/b.txt"), false));
  ASSERT_EQ(other.requests().size(), 1u);
  EXPECT_EQ(other.requests()[0].header("Authorization"), std::nullopt);
  bool authenticated = false;
  for (const auto& r : server.requests()) authenticated |= r.target == "/dav/moved.txt" && r.header("Authorization");
  EXPECT_TRUE(authenticated) << "the download was redirected before it carried the credentials";

  // Requests that fail: refused by the server, and the server gone.
  note(drive.create(TemplateItem::file("c.txt", "no-such-parent")).error);
  server.stop();
  note(drive.item(a).error);
  note(drive.fetch(a).error);
  EXPECT_GE(errors.size(), 3u);
  for (const auto& e : errors) {
    SCOPED_TRACE(e.what());
    EXPECT_FALSE(leaks(e.what()) || leaks(e.message()) || leaks(e.cause()));
  }

  // Nothing the server received carries them outside the authentication the transport does.
  for (const auto& r : server.requests()) {
    SCOPED_TRACE(r.method + " " + r.target);
    EXPECT_FALSE(leaks(r.target));
    for (const auto& [name, value] : r.headers) EXPECT_FALSE(leaks(value)) << name;
  }
  // Nor any file the engine wrote, nor any file name.
  for (const auto& path : everythingBelow(drive.env().root())) {
    SCOPED_TRACE(path);
    if (path.find("group") == 0) continue;  // drives.json: the host application's, where the URL is published
    EXPECT_FALSE(leaks(path));
    if (fs::is_regular_file(drive.env().file(path))) {
      EXPECT_FALSE(leaks(readFile(drive.env().file(path))));
    }
  }
}

// An authority named by the environment, as for curl, is trusted by the sessions made afterwards.
TEST(SecurityTest, CertificateAuthoritiesNamedByTheEnvironmentAreTrusted) {
  TempDir dir;
  const Certificate certificate = selfSignedCertificate(dir);
  FakeServer tls(certificate);
  tls.on("GET", "/", FakeServer::Reply{});
  for (bool bundle : {false, true}) {
    SCOPED_TRACE(bundle ? "CURL_CA_BUNDLE" : "SSL_CERT_FILE");
    bundle ? ::setenv("CURL_CA_BUNDLE", certificate.file.c_str(), 1) : ::unsetenv("CURL_CA_BUNDLE");  // first when set
    ::setenv("SSL_CERT_FILE", bundle ? "/nonexistent" : certificate.file.c_str(), 1);
    platform::UrlSession trusting(std::chrono::seconds(5));
    EXPECT_EQ(trusting.data(platform::HttpRequest{.url = tls.url("/")}).response.status, 200);
  }
  ::unsetenv("CURL_CA_BUNDLE");
  ::unsetenv("SSL_CERT_FILE");
}

TEST(SecurityTest, DomainIdentifiersCannotPlaceTheStateFileElsewhere) {
  FakeServer server;
  ServedTree tree{server};  // stops the server before it goes
  tree.file("/a.txt", "alpha");
  for (const std::string domain : {"../../../../../../tmp/escape", "a/b", "..", "/abs", "%2F..%2F"}) {
    SCOPED_TRACE(domain);
    TestDrive drive(server.url("/dav/"), TestDrive::quickTimings(), domain);
    ASSERT_FALSE(drive.enumerate(kRootContainerItemIdentifier)->error());
    const std::string stateDir = drive.env().file("data/org.davfp.host.extension");
    EXPECT_EQ(fs::weakly_canonical(drive.state().file()).parent_path(), fs::path(stateDir));
    // Everything the engine wrote lies in the state directory, directly: the state file alone.
    const std::set<std::string> setUp = {"group", "group/drives.json", "tmp", "data",
                                         "data/org.davfp.host.extension"};
    for (const auto& path : everythingBelow(drive.env().root())) {
      if (setUp.contains(path)) continue;
      EXPECT_EQ(drive.env().file(path), drive.state().file()) << "written elsewhere: " << path;
    }
    EXPECT_EQ(fs::status(stateDir).permissions(), fs::perms::owner_all);
    EXPECT_EQ(fs::status(drive.state().file()).permissions(), fs::perms::owner_read | fs::perms::owner_write);
  }
}

}  // namespace
}  // namespace davfp::testing
