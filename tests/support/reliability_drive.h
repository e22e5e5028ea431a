// ReliabilityDrive: a real FileProviderExtension for one domain, with client timings short enough for tests
// of faults and hostile servers, driven the way the platform drives it (through a client::PlatformClient).
// Each request helper waits for the one completion call and returns its outcome, an error as a value; a
// completion that does not come within a minute fails the test instead of hanging it, and each enumeration is
// checked against the observer rules (support/recording_observer.h). The environment (shared container, data
// and temporary directories) is private, as in WritebackEnv. Use one drive from one test thread.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "client/platform_client.h"
#include "dav/dav.h"
#include "platform/file_provider.h"
#include "provider/extension.h"
#include "state/state.h"
#include "support/recording_observer.h"
#include "support/writeback_driver.h"
#include "support/writeback_items.h"

namespace davfp::testing {

class ReliabilityDrive {
 public:
  static constexpr const char* kDomain = "reliability-drive";

  // Idle timeouts of a second, and a re-resolution that gives up after two short polls.
  static DavTimings quickTimings() {
    return DavTimings{.sessionTimeout = std::chrono::seconds(1),
                      .requestTimeout = std::chrono::seconds(1),
                      .probeTimeout = std::chrono::seconds(1),
                      .pollInterval = std::chrono::milliseconds(10),
                      .polls = 2};
  }

  explicit ReliabilityDrive(const std::string& url, DavTimings timings = quickTimings(),
                            std::string domain = kDomain)
      : domain_(std::move(domain)) {
    env_.publish(domain_, url);
    dav_ = Dav::create(domain_, env_, timings);
    state_ = std::make_shared<State>(domain_, env_);
    ext_ = FileProviderExtension::create(platform::Domain{domain_, "Drive"}, dav_, state_, env_);
    client_.attach(ext_);
  }

  FileProviderExtension& ext() { return *ext_; }
  std::shared_ptr<FileProviderExtension> shared() { return ext_; }
  // The extension's state, for what a test checks beside the requests.
  State& state() { return *state_; }
  WritebackEnv& env() { return env_; }
  const std::string& domain() const { return domain_; }
  // Publishes the drive at another URL, as the host application does when its server moves.
  void publish(const std::string& url) { env_.publish(domain_, url); }

  // A local file holding bytes, as the platform hands contents to the extension.
  std::string contents(const std::string& bytes) {
    std::string file = env_.dir.file("contents-" + std::to_string(++files_));
    writeFile(file, bytes);
    return file;
  }

  struct Looked {
    platform::ItemRef item;
    std::optional<platform::Error> error;
  };
  Looked lookup(const platform::ItemIdentifier& id) {
    auto pending = client_.startItem(id);
    if (!arrived(pending, "lookup")) return {nullptr, noCompletion()};
    try {
      return {pending.wait(), std::nullopt};
    } catch (const platform::Error& e) {
      return {nullptr, e};
    }
  }

  struct Fetched {
    std::optional<std::string> file;
    platform::ItemRef item;
    std::optional<platform::Error> error;
  };
  Fetched fetch(const platform::ItemIdentifier& id) {
    auto pending = client_.startFetch(id, std::nullopt);
    if (!arrived(pending, "fetch")) return {std::nullopt, nullptr, noCompletion()};
    try {
      auto fetched = pending.wait();
      return {std::move(fetched.file), std::move(fetched.item), std::nullopt};
    } catch (const platform::Error& e) {
      return {std::nullopt, nullptr, e};
    }
  }

  struct Listed {
    std::vector<platform::ItemRef> items;
    std::optional<platform::Error> error;
  };
  Listed enumerate(const platform::ItemIdentifier& container) {
    auto rec = RecordingObserver::make();
    ext_->enumerator(container, {})->enumerateItems(rec->handle(), platform::kInitialPageSortedByName);
    if (!rec->wait(kPatience)) return {{}, noCompletion()};
    return {rec->items(), rec->error()};
  }

  WriteOutcome create(const TemplateItem& item, std::optional<std::string> contents = std::nullopt) {
    auto pending = client_.startCreate(std::make_shared<TemplateItem>(item), 0, std::move(contents));
    if (!arrived(pending, "create")) return {.error = noCompletion()};
    return writeOutcome(pending);
  }

  WriteOutcome modify(const TemplateItem& item, platform::ItemFields changed,
                      std::optional<std::string> contents = std::nullopt) {
    auto pending =
        client_.startModify(std::make_shared<TemplateItem>(item), {}, changed, std::move(contents));
    if (!arrived(pending, "modify")) return {.error = noCompletion()};
    return writeOutcome(pending);
  }

  std::optional<platform::Error> remove(const platform::ItemIdentifier& id, const std::string& contentVersion,
                                        bool recursive) {
    auto pending = client_.startRemove(id, platform::ItemVersion{contentVersion, {}}, recursive);
    if (!arrived(pending, "delete")) return noCompletion();
    try {
      pending.wait();
      return std::nullopt;
    } catch (const platform::Error& e) {
      return e;
    }
  }

  // One change pass of the working set.
  ChangePassOutcome changes() {
    auto rec = RecordingObserver::make();
    ext_->enumerator(platform::kWorkingSetContainerItemIdentifier, {})
        ->enumerateChanges(rec->handle(), ext_->anchor());
    if (!rec->wait(kPatience)) return {.error = noCompletion()};
    return {rec->updated(), rec->deleted(), rec->error(), rec->anchor().value_or("")};
  }

 private:
  static constexpr std::chrono::minutes kPatience{1};

  // Whether the request completed within a minute; a test failure when it did not.
  template <class T>
  static bool arrived(const client::Pending<T>& pending, const char* what) {
    if (pending.waitFor(kPatience)) return true;
    ADD_FAILURE() << what << ": no completion within a minute";
    return false;
  }
  static platform::Error noCompletion() { return platform::Error("test", -1, "no completion"); }

  std::string domain_;
  WritebackEnv env_;
  std::shared_ptr<Dav> dav_;
  std::shared_ptr<State> state_;
  std::shared_ptr<FileProviderExtension> ext_;
  client::PlatformClient client_{nullptr};
  int files_ = 0;
};

}  // namespace davfp::testing
