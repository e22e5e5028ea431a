// A hostile server's listings, through the extension as the platform drives it: answers that are no whole
// listing (a page, nothing, a document cut off or poisoned) and listings with odd entries (lengths that are
// none, an href twice, dot names, two spellings of one name). A broken answer fails its request and the
// change pass whole, and loses nothing: no item is reported deleted, and every identifier stays. An odd entry
// gives one item or none, and requests for it go where its kept spelling says.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/error.h"
#include "support/drive_test.h"

namespace davfp::testing {
namespace {

using platform::kFileProviderErrorDomain;
using platform::kRootContainerItemIdentifier;
using platform::kWorkingSetContainerItemIdentifier;
using Reply = FakeServer::Reply;

std::string response(const std::string& href, bool folder, const std::string& length = "1",
                     const std::string& etag = "\"e\"") {
  return rawResponse(href, folder, length, etag);
}

// An answer as a WebDAV server sends it while it makes it: chunked, or without any length, ended by closing
// the connection (so that a body cut short cannot be told from a whole one).
Reply answer(int status, std::string body, platform::HeaderList headers = {}, bool closeDelimited = false) {
  headers.insert(headers.begin(), {"DAV", "1, 2"});
  if (std::none_of(headers.begin(), headers.end(), [](const auto& h) { return h.first == "Content-Type"; })) {
    headers.emplace_back("Content-Type", "application/xml");
  }
  return Reply{.status = status,
               .headers = std::move(headers),
               .noLength = closeDelimited,
               .pieces = FakeServer::once({std::move(body)})};
}

// The whole answer to the listing of /dav/sub/ (sub and its file c.txt), or to the depth-0 lookup of c.txt.
std::string wholeAnswer(bool folder) {
  if (!folder) return multistatusOf({response("/dav/sub/c.txt", false)});
  return multistatusOf({response("/dav/sub/", true), response("/dav/sub/c.txt", false)});
}

TEST(HostileListingTest, AnAnswerThatIsNoWholeListingFailsAndLosesNothing) {
  FakeServer elsewhere;  // another origin, no WebDAV server: a sign-in page for every request
  elsewhere.setHandler([](const FakeServer::Received&) { return FakeServer::Reply{.body = "<html/>"}; });
  std::string many;  // some 2 MiB of entries: parsed while it arrives, not held
  for (int i = 0; i < 15'000; ++i) many += response("/dav/sub/f" + std::to_string(i), false);
  const std::string html = "<!DOCTYPE html><html><body>Sign in</body></html>";
  struct Case {
    const char* what;
    int status;
    std::function<std::string(std::string whole)> body;  // made from the whole answer
    platform::HeaderList headers = {};
    bool closeDelimited = false;
  } cases[] = {
      // clang-format off
      {"an HTML page with 200", 200, [&](std::string) { return html; }, {{"Content-Type", "text/html"}}},
      {"an empty 207", 207, [](std::string) { return ""; }},
      {"an empty multistatus", 207, [](std::string) { return multistatusOf({}); }},
      {"without the folder itself", 207,  // for c.txt's lookup: without any resource
       [](std::string w) { auto at = w.find("<D:re"); return w.erase(at, w.find("</D:re") + 13 - at); }},
      {"one invalid UTF-8 byte", 207, [](std::string w) { return w.insert(w.rfind("<D:re"), "\xe9"); }},
      {"an entity declaration", 207, [](std::string w) { return "<!DOCTYPE m [<!ENTITY e 'x'>]>" + w; }},
      {"cut off, the connection closed without a length", 207,
       [](std::string w) { return w.substr(0, w.rfind("c.txt")); }, {}, true},
      {"a large one cut off, the connection closed without a length", 207,
       [&](std::string w) { return w.substr(0, w.rfind("<D:response>")) + many; }, {}, true},
      {"a redirect to another origin's page", 302, [](std::string) { return ""; },
       {{"Location", elsewhere.url("/sign-in")}}},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::atomic<bool> broken = false, added = false;
    FakeServer server;
    server.setHandler([&](const FakeServer::Received& r) {
      const std::string& target = r.target;
      if (r.method == "GET") return answer(200, "contents");
      if (r.method != "PROPFIND") return answer(200, "");
      if (target == "/dav/") {
        std::vector<std::string> root = {response("/dav/", true), response("/dav/a.txt", false),
                                         response("/dav/sub/", true)};
        // A change that the failed pass must not lose.
        if (added) root.push_back(response("/dav/new.txt", false));
        return answer(207, multistatusOf(root));
      }
      std::string whole = wholeAnswer(target == "/dav/sub/");
      if (broken) return answer(c.status, c.body(whole), c.headers, c.closeDelimited);
      return answer(207, whole);
    });
    TestDrive drive(server.url("/dav/"), TestDrive::quickTimings());
    auto root = drive.enumerate(kRootContainerItemIdentifier);
    ASSERT_EQ(filenames(root->items()), (Strings{"a.txt", "sub"}));
    auto sub = drive.enumerate(root->items()[1]->itemIdentifier());
    ASSERT_EQ(filenames(sub->items()), Strings{"c.txt"});
    const std::string cId = sub->items()[0]->itemIdentifier();
    const auto known = drive.state().knownFolders();

    broken = added = true;
    auto failed = drive.changes();
    expectError(failed->error(), kFileProviderErrorDomain, platform::fp::kServerUnreachable);
    EXPECT_TRUE(failed->updated().empty());
    EXPECT_TRUE(failed->deleted().empty());
    EXPECT_EQ(drive.state().knownFolders(), known);
    // Not "no such item", which would make the platform drop it.
    expectError(drive.item(cId).error, kFileProviderErrorDomain, platform::fp::kServerUnreachable);
    expectError(drive.enumerate(kWorkingSetContainerItemIdentifier)->error(), kFileProviderErrorDomain,
                platform::fp::kServerUnreachable);

    broken = false;
    auto pass = drive.changes();
    ASSERT_FALSE(pass->error()) << pass->error()->what();
    EXPECT_EQ(filenames(pass->updated()), Strings{"new.txt"});
    EXPECT_TRUE(pass->deleted().empty());
    auto looked = drive.item(cId);
    ASSERT_FALSE(looked.error) << looked.error->what();
    EXPECT_EQ(looked.item->filename(), "c.txt");
  }
}

TEST(HostileListingTest, OddEntriesGiveOneItemOrNone) {
  const std::string nfc = "/dav/caf%C3%A9", nfd = "/dav/cafe%CC%81";  // one name, composed and not
  struct Case {
    const char* what;
    std::vector<std::string> responses;  // in the root's listing, after plain.txt
    std::optional<std::string> name;     // the item they give
    std::optional<int64_t> size;         // its size and version
    std::string version;
    std::string at, never;  // where its fetch goes; a target no request may name
  } cases[] = {
      // clang-format off
      {"a negative length", {response("/dav/neg", false, "-5")}, "neg", {}, "\"e\"", "/dav/neg", ""},
      {"a length that is no number", {response("/dav/junk", false, "12 bytes")}, "junk", {}, "\"e\"",
       "/dav/junk", ""},
      {"an href twice",
       {response("/dav/dup", false, "1", "\"1\""), response("/dav/dup", false, "2", "\"2\"")},
       "dup", 1, "\"1\"", "/dav/dup", ""},
      {"dot names", {response("/dav/.", true), response("/dav/..", true), response("/dav/%2E%2E/", true)},
       std::nullopt, std::nullopt, "", "", "/dav/.."},
      {"composed, then decomposed", {response(nfc, false, "1", "\"c\""), response(nfd, false, "2", "\"d\"")},
       "caf\xc3\xa9", 1, "\"c\"", nfc, nfd},
      {"decomposed, then composed", {response(nfd, false, "2", "\"d\""), response(nfc, false, "1", "\"c\"")},
       "cafe\xcc\x81", 2, "\"d\"", nfd, nfc},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    FakeServer server;
    server.setHandler([&](const FakeServer::Received& r) {
      const std::string& target = r.target;
      if (r.method == "GET") return answer(200, target);
      if (r.method != "PROPFIND") return answer(200, "");
      // A file's own entry lists the length of its contents, which are its request target.
      if (target != "/dav/") {
        return answer(207, multistatusOf({response(target, false, std::to_string(target.size()))}));
      }
      std::vector<std::string> root = {response("/dav/", true), response("/dav/plain.txt", false)};
      root.insert(root.end(), c.responses.begin(), c.responses.end());
      return answer(207, multistatusOf(root));
    });
    TestDrive drive(server.url("/dav/"), TestDrive::quickTimings());
    auto root = drive.enumerate(kRootContainerItemIdentifier);
    ASSERT_FALSE(root->error()) << root->error()->what();
    std::vector<std::string> expected = {"plain.txt"};
    if (c.name) expected.push_back(*c.name);
    ASSERT_EQ(filenames(root->items()), expected);
    if (c.name) {
      EXPECT_EQ(root->items()[1]->documentSize(), c.size);
      EXPECT_EQ(root->items()[1]->itemVersion().contentVersion, c.version);
      auto fetched = drive.fetch(root->items()[1]->itemIdentifier());
      ASSERT_FALSE(fetched.error) << fetched.error->what();
      EXPECT_EQ(readFile(*fetched.file), c.at);
    }
    auto pass = drive.changes();
    EXPECT_FALSE(pass->error()) << pass->error()->what();
    EXPECT_TRUE(pass->updated().empty()) << pass->updated()[0]->filename();
    EXPECT_TRUE(pass->deleted().empty());
    for (const auto& r : server.requests()) {
      if (!c.never.empty()) {
        EXPECT_FALSE(r.target.starts_with(c.never)) << r.target;
      }
    }
  }
}

}  // namespace
}  // namespace davfp::testing
