// Hostile server answers, through the extension as the platform drives it: hrefs that try to leave the drive
// or alias its root, XML that tries to exhaust memory, and endless bodies. Nothing may crash, no request may
// leave the drive's base URL, and memory stays bounded.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/error.h"
#include "platform/url.h"
#include "support/drive_test.h"

namespace davfp::testing {
namespace {

using Reply = FakeServer::Reply;
using platform::kCocoaErrorDomain;
using platform::kRootContainerItemIdentifier;

constexpr uint64_t kMiB = 1 << 20;
// Memory that the address sanitizer keeps resident after it is freed (its quarantine, 256 MiB by default), for
// bounds on resident memory that must hold in its builds too.
#if defined(__SANITIZE_ADDRESS__)
constexpr uint64_t kFreedButResident = 288 * kMiB;
#else
constexpr uint64_t kFreedButResident = 0;
#endif

// The process's resident memory now, and the most it has had so far, in bytes.
uint64_t residentBytes() {
  uint64_t size = 0, resident = 0;
  std::ifstream("/proc/self/statm") >> size >> resident;
  return resident * static_cast<uint64_t>(::sysconf(_SC_PAGESIZE));
}
uint64_t peakResidentBytes() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return static_cast<uint64_t>(usage.ru_maxrss) * 1024;
}

const std::string kOpen(kMultistatusOpen), kClose(kMultistatusClose);

// An answer whose body is made while it is sent, chunked.
Reply streamed(int status, FakeServer::Pieces pieces) {
  return Reply{.status = status,
               .headers = {{"DAV", "1, 2"}, {"Content-Type", "application/xml"}},
               .pieces = std::move(pieces)};
}
Reply listing(const std::vector<std::string>& responses) {
  return streamed(207, FakeServer::once({multistatusOf(responses)}));
}

// Resident memory has hardly grown since `resident` was measured.
void expectBounded(uint64_t resident) {
  EXPECT_LT(peakResidentBytes(), resident + 64 * kMiB + kFreedButResident)
      << "grew by " << (peakResidentBytes() - resident) / kMiB << " MiB";
}

// Every request lies under /dav/, names nothing a server could resolve outside it (no "." or ".." component,
// escaped or not), and none writes to the drive's root itself.
void expectInsideTheDrive(const std::vector<FakeServer::Received>& requests) {
  for (const auto& r : requests) {
    SCOPED_TRACE(r.method + " " + r.target.substr(0, 200));
    EXPECT_TRUE(r.target.starts_with("/dav/"));
    auto path = platform::pathOfReference(r.target);
    ASSERT_TRUE(path.has_value());
    auto decoded = "/" + platform::percentDecode(*path).value_or(*path) + "/";
    EXPECT_EQ(decoded.find("/../"), std::string::npos);
    EXPECT_EQ(decoded.find("/./"), std::string::npos);
    if (r.method != "PROPFIND" && r.method != "OPTIONS" && r.method != "GET") {
      EXPECT_TRUE(*path != "/dav/" && *path != "/dav") << "a write to the drive's root";
    }
  }
}

TEST(HostileServerTest, HrefsNeverLeadOutsideTheDriveNorAliasItsRoot) {
  FakeServer other;  // another origin that hostile hrefs name
  const std::string otherHost = "127.0.0.1:" + std::to_string(other.port());
  const auto none = std::nullopt;
  struct Case {
    std::string what, href;
    bool folder;
    std::optional<std::string> name;  // the item listed for it; none: not a child of the root
    std::optional<std::string> at;    // where requests for the item go; none: it cannot be addressed
  } cases[] = {
      {"escaped dot-dot", "/dav/%2E%2E/", true, none, none},
      {"dot-dots inside", "/dav/a/../../etc/passwd", false, none, none},
      {"backslashes", "/dav/..\\..\\x", false, "..\\..\\x", "/dav/..%5C..%5Cx"},
      {"absolute URL to a listening host", "http://" + otherHost + "/dav/y", false, "y", "/dav/y"},
      {"network-path reference", "//" + otherHost + "/dav/z", false, "z", "/dav/z"},
      {"credentials in an absolute URL", "http://u:stolen@" + otherHost + "/dav/c", false, "c", "/dav/c"},
      {"the base with three slashes", "/dav///", true, "", none},
      {"the base spelt as another host", "http://" + otherHost + "/dav///", true, "", none},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    // The root lists the hostile entry next to a plain file; everything else is answered as a WebDAV server
    // would: a depth-0 listing echoes the target, writes succeed.
    FakeServer server;
    server.setHandler([&c](const FakeServer::Received& r) {
      if (r.method == "PROPFIND" && r.target == "/dav/" && r.header("Depth") == "1") {
        return listing(
            {rawResponse("/dav/", true), rawResponse("/dav/plain.txt", false), rawResponse(c.href, c.folder)});
      }
      if (r.method == "PROPFIND") return listing({rawResponse(r.target, r.target.ends_with("/"))});
      if (r.method == "GET") return Reply{.body = "contents"};
      return Reply{.status = r.method == "DELETE" ? 204 : 201};
    });
    TestDrive drive(server.url("/dav/"), TestDrive::quickTimings());
    auto root = drive.enumerate(kRootContainerItemIdentifier);
    Strings expected{"plain.txt"};
    if (c.name) expected.push_back(*c.name);
    ASSERT_EQ(filenames(root->items()), expected);
    if (c.name) {
      const std::string id = root->items()[1]->itemIdentifier();
      server.clearRequests();
      std::vector<std::optional<platform::Error>> errors = {
          drive.item(id).error, c.folder ? drive.enumerate(id)->error() : drive.fetch(id).error,
          drive.modify(TemplateItem(id, kRootContainerItemIdentifier, "renamed", "text/plain"),
                       platform::field::kFilename)
              .error,
          drive.remove(id, "\"e\"", true)};
      bool addressed = false;
      for (const auto& r : server.requests()) {
        addressed = addressed || (c.at && r.target.starts_with(*c.at));
        // Nothing can be done with an item whose path does not name what it would address.
        EXPECT_TRUE(c.at || r.method == "OPTIONS") << r.method << " " << r.target;
      }
      EXPECT_EQ(addressed, c.at.has_value());
      for (const auto& error : errors) {
        EXPECT_EQ(error.has_value(), !c.at);
        EXPECT_TRUE(!error || error->domain() == kCocoaErrorDomain) << error->what();
      }
    }
    EXPECT_FALSE(drive.changes()->error());
    expectInsideTheDrive(server.requests());
    EXPECT_TRUE(other.requests().empty()) << other.requests()[0].method << " " << other.requests()[0].target;
  }
}

// Bodies without end, made while they are sent so that the test itself holds none of them, are never held:
// a listing whose XML would make a parser hold gigabytes ends where the attack starts, the rest of the body is
// not read, and the listing fails (entities are never expanded: the parser's own tests show it); the bodies
// the engine does not read (the probe's, and those to writes) are left unread and the request still gets
// done. Memory hardly moves.
TEST(HostileServerTest, EndlessBodiesAreNeverHeld) {
  const std::string before = kOpen + rawResponse("/dav/", true) + rawResponse("/dav/kept", false);
  std::string nested;
  for (int i = 0; i < 10'000; ++i) nested += "<D:x>";
  using Request = std::function<std::optional<platform::Error>(TestDrive&)>;
  const Request list = [](TestDrive& d) { return d.enumerate(kRootContainerItemIdentifier)->error(); };
  struct Case {
    std::string what, method;  // the method whose answer is endless: head, then repeat again and again
    int status;
    std::string head, repeat;
    Request request;  // a listing fails, other requests succeed
  } cases[] = {
      {"deeply nested XML", "PROPFIND", 207, before + "<D:response>", nested, list},
      {"an endless href", "PROPFIND", 207, before + "<D:response><D:href>/dav/", std::string(kMiB, 'h'), list},
      {"endless junk after the listing", "PROPFIND", 207, before + kClose, std::string(kMiB, 'j'), list},
      {"the probe's answer", "OPTIONS", 200, "", std::string(kMiB, 'b'),
       [](TestDrive& d) { return d.item(d.state().id("/a.txt")).error; }},
      {"a write's answer", "PUT", 201, "", std::string(kMiB, 'b'),
       [](TestDrive& d) { return d.create(TemplateItem::file("new.txt"), d.contents("new")).error; }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    // One answer's pieces: the head with the first repeat, then repeats. A reply without a head keeps no
    // state, so that probes may share it.
    auto endless = [&c] {
      auto first = std::make_shared<bool>(!c.head.empty());
      return streamed(c.status, [&c, first]() -> std::optional<std::string> {
        return *first && std::exchange(*first, false) ? c.head + c.repeat : c.repeat;
      });
    };
    FakeServer server;
    if (c.method == "OPTIONS") server.on("OPTIONS", "/dav/", endless());
    server.setHandler([&](const FakeServer::Received& r) {
      return r.method == c.method ? endless() : listing({rawResponse(r.target, r.target.ends_with("/"))});
    });
    TestDrive drive(server.url("/dav/"), TestDrive::quickTimings());
    const uint64_t resident = residentBytes();
    auto error = c.request(drive);
    if (c.method == "PROPFIND") {
      expectError(error, platform::kFileProviderErrorDomain, platform::fp::kServerUnreachable);
      EXPECT_TRUE(drive.state().knownFolders().empty());
    } else {
      EXPECT_FALSE(error) << error->what();
    }
    expectBounded(resident);
  }
}

// A server whose OPTIONS answer has no DAV header is no WebDAV server: nothing but probes is sent to it.
TEST(HostileServerTest, AnOptionsAnswerWithoutDavIsNoServer) {
  FakeServer server;
  server.on("OPTIONS", "/dav/", Reply{.headers = {{"Allow", "GET, PROPFIND"}}});
  server.setHandler([](const FakeServer::Received&) { return listing({rawResponse("/dav/", true)}); });
  TestDrive drive(server.url("/dav/"), TestDrive::quickTimings());
  auto error = drive.enumerate(kRootContainerItemIdentifier)->error();
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code(), platform::fp::kServerUnreachable);
  for (const auto& r : server.requests()) EXPECT_EQ(r.method, "OPTIONS") << r.target;
}

}  // namespace
}  // namespace davfp::testing
