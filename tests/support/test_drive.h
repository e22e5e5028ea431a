// TestDrive: a real FileProviderExtension of one domain, driven the way the platform drives it, for every
// in-process test of the extension (against the fake server or a real one, with faults or without).
//
// Its TestEnv publishes the drive at the given URL and never finds the host application. Each request waits
// for its one completion call (through a client::PlatformClient) and returns the outcome, an error as a
// value; a completion that does not come within minutes fails the test instead of hanging it, and each
// enumeration is checked against the observer rules (RecordingObserver, below). restart() lets go of the
// extension, its client and its state and makes them anew on the same disk, as a new process would. Use one
// drive from one test thread.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "client/enumeration.h"
#include "client/platform_client.h"
#include "dav/dav.h"
#include "platform/file_provider.h"
#include "platform/mime_registry.h"
#include "provider/extension.h"
#include "provider/lookup.h"
#include "state/state.h"
#include "support/test_env.h"

namespace davfp::testing {

// TemplateItem: an item as the platform describes it to the extension (a new item's template, or the changed
// item of a modification), with the properties a test sets. Immutable once handed over.
struct TemplateItem : platform::ItemProtocol {
  platform::ItemIdentifier id;
  platform::ItemIdentifier parent;
  std::string name;
  std::optional<std::string> type;  // none: the item does not answer contentType

  TemplateItem(platform::ItemIdentifier itemId, platform::ItemIdentifier parentId, std::string itemName,
               std::optional<std::string> itemType)
      : id(std::move(itemId)), parent(std::move(parentId)), name(std::move(itemName)), type(std::move(itemType)) {}
  static TemplateItem file(std::string name,
                           platform::ItemIdentifier parent = platform::kRootContainerItemIdentifier,
                           platform::ItemIdentifier id = {}) {
    return {std::move(id), std::move(parent), std::move(name), "text/plain"};
  }
  static TemplateItem folder(std::string name,
                             platform::ItemIdentifier parent = platform::kRootContainerItemIdentifier,
                             platform::ItemIdentifier id = {}) {
    return {std::move(id), std::move(parent), std::move(name), std::string(platform::kFolderType)};
  }

  platform::ItemIdentifier itemIdentifier() const override { return id; }
  platform::ItemIdentifier parentItemIdentifier() const override { return parent; }
  std::string filename() const override { return name; }
  std::optional<std::string> contentType() const override { return type; }
};

// RecordingObserver: what one enumeration did, recorded by a client::Enumeration (every call the extension
// made). TestDrive's enumerations return it once the enumerator and its job have let go of the observer (so
// nothing can call any more), after checking the observer rules: exactly one finish call, and nothing after it.
class RecordingObserver {
 public:
  // The calls by name, in order: "items", "finishPage", "updated", "deleted", "finishChanges", "error".
  std::vector<std::string> calls() const { return enumeration_->record().calls; }
  // What didEnumerateItems, didUpdateItems and didDeleteItemsWithIdentifiers received, in order.
  std::vector<platform::ItemRef> items() const { return enumeration_->record().items; }
  std::vector<platform::ItemRef> updated() const;
  std::vector<platform::ItemIdentifier> deleted() const;
  // What the finish call gave.
  std::optional<platform::Error> error() const { return enumeration_->record().error; }
  std::optional<platform::SyncAnchor> anchor() const { return enumeration_->record().anchor; }

 private:
  friend class TestDrive;
  const std::shared_ptr<client::Enumeration> enumeration_ = std::make_shared<client::Enumeration>();
};

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
  std::shared_ptr<RecordingObserver> enumerate(const platform::ItemIdentifier& container) {
    return observe([&](auto observer) {
      ext_->enumerator(container, {})->enumerateItems(observer, platform::kInitialPageSortedByName);
    });
  }
  // Enumerates a folder as the file manager does when it opens it (the folder becomes known); an error
  // fails the test.
  std::vector<platform::ItemRef> list(const platform::ItemIdentifier& folder);
  // One change pass of the container (the working set unless given) from the extension's current anchor.
  std::shared_ptr<RecordingObserver> changes(
      const platform::ItemIdentifier& container = platform::kWorkingSetContainerItemIdentifier) {
    return observe([&](auto observer) { ext_->enumerator(container, {})->enumerateChanges(observer, ext_->anchor()); });
  }

 private:
  // Starts an enumeration with an observer, and waits until it lets go of it.
  std::shared_ptr<RecordingObserver> observe(
      const std::function<void(std::shared_ptr<client::Enumeration>)>& start);

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
