// What the extension's tests run against.
//
// ServedTree: a folder tree in memory, served over WebDAV by a FakeServer under /dav/ (PROPFIND with depth 0
// and 1, GET), whose answers for single targets a test can replace by failures for a while. Routes scripted
// on the server take precedence over the tree.
// ProviderTestEnv: an Env whose shared container names that server in drives.json, whose data directory holds
// the state file, which counts state writes, knows no host application, and lets a test step into the type
// lookup and the file removal that the extension does from its jobs.
// ProviderTest: a fixture holding the three, with blocking helpers for requests and enumerations.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/env.h"
#include "platform/file_provider.h"
#include "provider/extension.h"
#include "support/fake_server.h"
#include "support/recording_observer.h"
#include "support/temp_dir.h"

namespace davfp::testing {

// One resource as the fake server reports it.
struct ServedNode {
  bool isDir = false;
  std::string body;                     // a file's contents; its getcontentlength is their size
  std::optional<std::string> etag;      // getetag, verbatim; none leaves the property out
  std::optional<std::string> modified;  // getlastmodified, verbatim; none leaves it out
};

// A multistatus document with one response per (href, node), in the given order.
std::string multistatus(const std::vector<std::pair<std::string, ServedNode>>& responses);

// Thread-safe: the server's threads read the tree while a test changes it.
class ServedTree {
 public:
  ServedTree();  // holds the root folder "/"

  // Adds or replaces the folder or file at path (a server path); missing parent folders are added.
  void folder(const std::string& path, std::optional<std::string> etag = std::nullopt);
  void file(const std::string& path, std::string body, std::optional<std::string> etag = std::nullopt,
            std::optional<std::string> modified = std::nullopt);
  // Removes path and everything under it.
  void remove(const std::string& path);
  // Answers every request for the target (as davTarget() gives it) with reply instead, until heal().
  void fail(const std::string& target, FakeServer::Reply reply);
  void heal();

  // Answers PROPFIND (depth 0: the resource; depth 1: the folder first, then its children by path) and GET
  // for targets under /dav/; 404 for anything missing, 405 for other methods.
  FakeServer::Reply answer(const FakeServer::Received& request) const;

 private:
  mutable std::mutex mu_;
  std::map<std::string, ServedNode> nodes_;            // server path -> resource; guarded by mu_
  std::map<std::string, FakeServer::Reply> failures_;  // request target -> reply; guarded by mu_
};

// The request target of a server path under /dav/, percent-encoded; folders end in "/".
std::string davTarget(const std::string& path, bool isDir = false);

class ProviderTestEnv : public platform::EnvWrapper {
 public:
  ProviderTestEnv();

  // Writes drives.json naming url as the domain's drive.
  void publish(const std::string& domain, const std::string& url);
  // The temporary directory's files (downloads land there).
  std::vector<std::string> temporaryFiles() const;

  std::optional<std::string> groupContainer(std::string_view appGroup) override;
  std::optional<std::string> applicationDataDirectory(std::string_view bundleID) override;
  std::string temporaryDirectory() override { return dir.file("tmp"); }
  void writeFileAtomically(const std::string& path, std::string_view bytes) override;
  void removeFile(const std::string& path) override;
  std::optional<std::string> applicationLocation(std::string_view) override { return std::nullopt; }
  std::optional<std::string> typeForFilenameExtension(std::string_view extension) override;

  TempDir dir;
  std::atomic<int> writes{0};  // of any file, the state file being the only one the extension writes
  // Called before each type lookup and after each file removal; set them before the extension runs.
  std::function<void(std::string_view extension)> onTypeLookup;
  std::function<void(const std::string& path)> onRemove;
};

// Timings that make an unreachable server fail at once: no waiting for a host application.
DavTimings fastTimings();

class ProviderTest : public ::testing::Test {
 protected:
  static constexpr std::string_view kDomain = "drive";
  static constexpr std::string_view kDisplayName = "My Drive";

  ProviderTest();

  std::shared_ptr<FileProviderExtension> extension(std::string domain = std::string(kDomain));

  struct Looked {
    platform::ItemRef item;
    std::optional<platform::Error> error;
  };
  struct Fetched {
    std::optional<std::string> file;
    platform::ItemRef item;
    std::optional<platform::Error> error;
  };
  // Runs the request and waits for its completion.
  static Looked lookup(FileProviderExtension& ext, const platform::ItemIdentifier& id);
  static Fetched fetch(FileProviderExtension& ext, const platform::ItemIdentifier& id);
  // Runs one enumeration of the container and waits until it has let go of its observer.
  static std::shared_ptr<RecordingObserver> enumerate(FileProviderExtension& ext,
                                                      const platform::ItemIdentifier& container);
  static std::shared_ptr<RecordingObserver> changes(
      FileProviderExtension& ext,
      const platform::ItemIdentifier& container = platform::kWorkingSetContainerItemIdentifier);

  // The identifier the state holds for path, or "" when it holds none.
  static std::string idOf(FileProviderExtension& ext, const std::string& path);
  // "METHOD target" of each request the server received, OPTIONS probes left out.
  std::vector<std::string> exchanges() const;

  // In this order, so that the server's threads stop before the tree they read goes away.
  ProviderTestEnv env;
  ServedTree tree;
  FakeServer server;
};

// A one-shot event between a test and a job, with a bounded wait so that a fault fails the test, not hangs
// it.
class Signal {
 public:
  void notify();
  // False when the event did not happen within timeout.
  bool wait(std::chrono::milliseconds timeout = std::chrono::seconds(30));

 private:
  std::mutex mu_;
  std::condition_variable cv_;
  bool done_ = false;  // guarded by mu_
};

using Strings = std::vector<std::string>;
Strings sorted(Strings strings);

// The item of the list with this identifier, or null.
platform::ItemRef findItem(const std::vector<platform::ItemRef>& items, const platform::ItemIdentifier& id);
// The items' file names, in order.
std::vector<std::string> filenames(const std::vector<platform::ItemRef>& items);

}  // namespace davfp::testing
