// TestDrive: a real FileProviderExtension of one domain, driven the way the platform drives it, for every
// in-process test of the extension (against the fake server or a real one, with faults or without).
//
// Its TestEnv publishes the drive at the given URL and never finds the host application. Each request waits
// for its one completion call (through a client::PlatformClient) and returns the outcome, an error as a
// value; a completion that does not come within minutes fails the test instead of hanging it, and each
// enumeration is checked against the observer rules (support/recording_observer.h). restart() lets go of the
// extension, its client and its state and makes them anew on the same disk, as a new process would. Use one
// drive from one test thread.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "client/platform_client.h"
#include "dav/dav.h"
#include "platform/file_provider.h"
#include "provider/extension.h"
#include "provider/lookup.h"
#include "state/state.h"
#include "support/recording_observer.h"
#include "support/test_env.h"
#include "support/writeback_items.h"

namespace davfp::testing {

// The outcome of a create or modify request.
struct WriteOutcome {
  platform::ItemRef item;
  platform::ItemFields pending = 0;
  bool shouldFetchContent = false;
  std::optional<platform::Error> error;
};

class TestDrive {
 public:
  static constexpr const char* kDomain = "drive";

  // Idle timeouts of a second, and a re-resolution that gives up after two short polls.
  static DavTimings quickTimings();

  explicit TestDrive(const std::string& url, DavTimings timings = {}, std::string domain = kDomain);
  ~TestDrive();

  // A new extension, client and state of the domain (of another domain when given: publish it first); the
  // old ones are gone before the new state loads.
  FileProviderExtension& restart(const std::string& domain = "");

  FileProviderExtension& ext() { return *ext_; }
  std::shared_ptr<FileProviderExtension> shared() { return ext_; }
  // The extension's client and state, and a lookup over them, for what a test checks beside the requests.
  Dav& dav() { return *dav_; }
  State& state() { return *state_; }
  const Lookup& lookup() { return *lookup_; }
  TestEnv& env() { return env_; }
  const std::string& domain() const { return domain_; }
  // Publishes the drive at another URL, as the host application does when its server moves.
  void publish(const std::string& url) { env_.publish(domain_, url); }

  // A local file holding bytes, as the platform hands contents to the extension.
  std::string contents(const std::string& bytes);
  // The identifier of path, minted as enumerating its folder would have.
  std::string id(const std::string& path) { return state().id(path); }
  // The identifier the state holds for path, or "" when it holds none.
  std::string idOf(const std::string& path) { return state().existingId(path).value_or(""); }

  struct Looked {
    platform::ItemRef item;
    std::optional<platform::Error> error;
  };
  Looked item(const platform::ItemIdentifier& id);

  struct Fetched {
    std::optional<std::string> file;
    platform::ItemRef item;
    std::optional<platform::Error> error;
  };
  Fetched fetch(const platform::ItemIdentifier& id);

  WriteOutcome create(const TemplateItem& item, std::optional<std::string> contents = std::nullopt);
  WriteOutcome modify(const TemplateItem& item, platform::ItemFields changed,
                      std::optional<std::string> contents = std::nullopt);
  std::optional<platform::Error> remove(const platform::ItemIdentifier& id, const std::string& contentVersion,
                                        bool recursive);

  // One enumeration of the container, recorded.
  std::shared_ptr<RecordingObserver> enumerate(const platform::ItemIdentifier& container);
  // Enumerates a folder as the file manager does when it opens it (the folder becomes known); an error
  // fails the test.
  std::vector<platform::ItemRef> list(const platform::ItemIdentifier& folder);
  // One change pass of the container (the working set unless given) from the extension's current anchor.
  std::shared_ptr<RecordingObserver> changes(
      const platform::ItemIdentifier& container = platform::kWorkingSetContainerItemIdentifier);

 private:
  std::string domain_;
  DavTimings timings_;
  TestEnv env_;
  std::shared_ptr<Dav> dav_;
  std::shared_ptr<State> state_;
  std::unique_ptr<Lookup> lookup_;
  std::shared_ptr<FileProviderExtension> ext_;
  client::PlatformClient client_{nullptr};
  int files_ = 0;
};

}  // namespace davfp::testing
