// Security checks through the extension: credentials of the published URL stay in the URL, certificates are
// verified, and a domain identifier cannot place the state file anywhere but in the extension's own
// directory, which is the user's alone.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "platform/error.h"
#include "platform/url_session.h"
#include "support/served_tree.h"
#include "state/state_file.h"
#include "support/fake_server.h"
#include "support/scoped_env.h"
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

std::string userinfo() { return std::string(kUser) + ":" + std::string(kSecret) + "@"; }

// Every file and directory below dir, by path relative to it.
std::vector<std::string> everythingBelow(const std::string& dir) {
  std::vector<std::string> out;
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    out.push_back(fs::relative(entry.path(), dir).string());
  }
  return out;
}

mode_t modeOf(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
  return st.st_mode & 07777;
}

TEST(SecurityTest, CredentialsOfThePublishedUrlGoNowhereElse) {
  FakeServer server;
  ServedTree tree{server};  // stops the server before it goes
  tree.folder("/docs");
  tree.file("/docs/a.txt", "alpha");
  const std::string url = "http://" + userinfo() + "127.0.0.1:" + std::to_string(server.port()) + "/dav/";
  TestDrive drive(url, TestDrive::quickTimings());
  std::vector<platform::Error> errors;
  auto note = [&](const std::optional<platform::Error>& error) {
    if (error) errors.push_back(*error);
  };

  // Every kind of request, successful.
  auto root = drive.enumerate(kRootContainerItemIdentifier);
  ASSERT_FALSE(root->error());
  const std::string docs = drive.state().id("/docs");
  auto listed = drive.enumerate(docs);
  ASSERT_EQ(listed->items().size(), 1u);
  const std::string a = listed->items()[0]->itemIdentifier();
  auto fetched = drive.fetch(a);
  ASSERT_TRUE(fetched.file.has_value());
  note(drive.create(TemplateItem::file("b.txt", docs), drive.contents("beta")).error);
  note(drive.modify(TemplateItem::file("renamed.txt", docs, a), kFilename | kContents, drive.contents("new"))
           .error);
  note(drive.changes()->error());
  note(drive.remove(drive.state().id("/docs/b.txt"), tree.etag("/docs/b.txt"), false));
  ASSERT_TRUE(errors.empty()) << errors[0].what();

  // Requests that fail: refused by the server, and the server gone.
  note(drive.create(TemplateItem::file("c.txt", "no-such-parent")).error);
  note(drive.remove(docs, "", false));
  server.stop();
  note(drive.item(a).error);
  note(drive.fetch(a).error);
  note(drive.enumerate(docs)->error());
  note(drive.create(TemplateItem::folder("d", docs)).error);
  EXPECT_GE(errors.size(), 6u);

  // Errors below the extension's boundary too: the session's own, which may quote the URL.
  platform::UrlSession session(std::chrono::seconds(2));
  for (const std::string& bad :
       {"http://" + userinfo() + "127.0.0.1:" + std::to_string(server.port()) + "/dav/",
        "http://" + userinfo() + "127.0.0.1:99999/dav/", "http://" + userinfo() + "[::1/dav/"}) {
    try {
      session.data(platform::HttpRequest{.url = bad});
      ADD_FAILURE() << "no error";
    } catch (const platform::Error& e) {
      errors.push_back(e);
    }
  }
  for (const auto& e : errors) {
    SCOPED_TRACE(e.what());
    EXPECT_FALSE(leaks(e.what()));
    EXPECT_FALSE(leaks(e.message()));
    EXPECT_FALSE(leaks(e.cause()));
  }

  // Nothing the server received carries them outside the authentication the transport does.
  for (const auto& r : server.requests()) {
    SCOPED_TRACE(r.method + " " + r.target);
    EXPECT_FALSE(leaks(r.target));
    for (const auto& [name, value] : r.headers) EXPECT_FALSE(leaks(value)) << name;
  }
  // Nor any file the engine wrote, nor any file name.
  EXPECT_FALSE(leaks(readFile(drive.state().file())));
  for (const auto& path : everythingBelow(drive.env().root())) {
    SCOPED_TRACE(path);
    if (path.find("group") == 0) continue;  // drives.json: the host application's, where the URL is published
    EXPECT_FALSE(leaks(path));
    if (fs::is_regular_file(drive.env().file(path))) {
      EXPECT_FALSE(leaks(readFile(drive.env().file(path))));
    }
  }
}

TEST(SecurityTest, CertificatesAreVerified) {
  TempDir dir;
  const Certificate certificate = selfSignedCertificate(dir);
  FakeServer tls({.tls = certificate});
  tls.on("GET", "/", FakeServer::Reply{});
  // Untrusted, it is no server (the resolution tests check that); an authority named by the environment, as
  // for curl, is trusted by the sessions made afterwards.
  platform::UrlSession untrusting(std::chrono::seconds(5));
  EXPECT_THROW(untrusting.data(platform::HttpRequest{.url = tls.url("/")}), platform::Error);
  for (bool bundle : {false, true}) {
    SCOPED_TRACE(bundle ? "CURL_CA_BUNDLE" : "SSL_CERT_FILE");
    ScopedEnv env;
    env.set("CURL_CA_BUNDLE", bundle ? std::optional(certificate.file) : std::nullopt);  // first, when set
    env.set("SSL_CERT_FILE", bundle ? "/nonexistent" : certificate.file);
    platform::UrlSession trusting(std::chrono::seconds(5));
    EXPECT_EQ(trusting.data(platform::HttpRequest{.url = tls.url("/")}).response.status, 200);
  }
}

TEST(SecurityTest, DomainIdentifiersCannotPlaceTheStateFileElsewhere) {
  FakeServer server;
  ServedTree tree{server};  // stops the server before it goes
  tree.file("/a.txt", "alpha");
  const std::vector<std::string> domains = {
      "../escape", "../../../../../../tmp/escape", "a/b", "..", ".", "/abs", "x/../../y", "~", "*",
      "%2F..%2F"};
  for (const auto& domain : domains) {
    SCOPED_TRACE(domain);
    TestDrive drive(server.url("/dav/"), TestDrive::quickTimings(), domain);
    ASSERT_FALSE(drive.enumerate(kRootContainerItemIdentifier)->error());
    const std::string stateDir = drive.env().file("data/org.davfp.host.extension");
    EXPECT_EQ(drive.state().file(), stateDir + "/" + stateFileName(domain));
    EXPECT_EQ(fs::weakly_canonical(drive.state().file()).parent_path(), fs::path(stateDir));
    // Everything the engine wrote lies in the state directory, directly.
    const std::set<std::string> setUp = {"group", "group/drives.json", "tmp", "data",
                                         "data/org.davfp.host.extension"};
    for (const auto& path : everythingBelow(drive.env().root())) {
      if (setUp.contains(path)) continue;
      EXPECT_EQ(fs::path(path).parent_path(), "data/org.davfp.host.extension")
          << "written elsewhere: " << path;
    }
    EXPECT_EQ(fs::directory_iterator(stateDir)->path(), fs::path(drive.state().file()));
    EXPECT_EQ(modeOf(stateDir), 0700u);
    EXPECT_EQ(modeOf(drive.state().file()), 0600u);
  }
}

}  // namespace
}  // namespace davfp::testing
