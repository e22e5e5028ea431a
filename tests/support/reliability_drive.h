// ReliabilityDrive: a real FileProviderExtension for one domain, with client timings short enough for tests
// of faults and hostile servers, driven the way the platform drives it. Each request helper waits for the one
// completion call and returns its outcome; a completion that does not come within a minute fails the test
// instead of hanging it. The environment (shared container, data and temporary directories) is private, as in
// WritebackEnv. Use one drive from one test thread.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "dav/dav.h"
#include "platform/file_provider.h"
#include "provider/extension.h"
#include "state/state.h"
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
    auto done = std::make_shared<std::promise<Looked>>();
    ext_->itemForIdentifier(id, {}, [done](platform::ItemRef item, std::optional<platform::Error> error) {
      done->set_value({std::move(item), std::move(error)});
    });
    return wait(done, "lookup");
  }

  struct Fetched {
    std::optional<std::string> file;
    platform::ItemRef item;
    std::optional<platform::Error> error;
  };
  Fetched fetch(const platform::ItemIdentifier& id) {
    auto done = std::make_shared<std::promise<Fetched>>();
    ext_->fetchContents(id, std::nullopt, {},
                        [done](std::optional<std::string> file, platform::ItemRef item,
                               std::optional<platform::Error> error) {
                          done->set_value({std::move(file), std::move(item), std::move(error)});
                        });
    return wait(done, "fetch");
  }

  struct Listed {
    std::vector<platform::ItemRef> items;
    std::optional<platform::Error> error;
  };
  Listed enumerate(const platform::ItemIdentifier& container) {
    struct Observer : platform::EnumerationObserver {
      Listed listed;
      std::promise<Listed> done;
      void didEnumerateItems(std::vector<platform::ItemRef> more) override {
        listed.items.insert(listed.items.end(), more.begin(), more.end());
      }
      void finishEnumeratingUpToPage(std::optional<platform::Page>) override { done.set_value(listed); }
      void finishEnumeratingWithError(const platform::Error& error) override {
        listed.error = error;
        done.set_value(listed);
      }
    };
    auto observer = std::make_shared<Observer>();
    auto future = observer->done.get_future();
    ext_->enumerator(container, {})->enumerateItems(observer, platform::kInitialPageSortedByName);
    return waitFor(future, "enumeration");
  }

  WriteOutcome create(const TemplateItem& item, std::optional<std::string> contents = std::nullopt) {
    auto done = std::make_shared<std::promise<WriteOutcome>>();
    ext_->createItem(std::make_shared<TemplateItem>(item), 0, std::move(contents), 0, {},
                     writeCompletion(done));
    return wait(done, "create");
  }

  WriteOutcome modify(const TemplateItem& item, platform::ItemFields changed,
                      std::optional<std::string> contents = std::nullopt) {
    auto done = std::make_shared<std::promise<WriteOutcome>>();
    ext_->modifyItem(std::make_shared<TemplateItem>(item), {}, changed, std::move(contents), 0, {},
                     writeCompletion(done));
    return wait(done, "modify");
  }

  std::optional<platform::Error> remove(const platform::ItemIdentifier& id, const std::string& contentVersion,
                                        bool recursive) {
    auto done = std::make_shared<std::promise<std::optional<platform::Error>>>();
    ext_->deleteItem(id, platform::ItemVersion{contentVersion, {}},
                     recursive ? platform::kDeleteRecursive : 0, {},
                     [done](std::optional<platform::Error> error) { done->set_value(std::move(error)); });
    return wait(done, "delete");
  }

  // One change pass of the working set.
  ChangePassOutcome changes() {
    struct Observer : platform::ChangeObserver {
      ChangePassOutcome outcome;
      std::promise<ChangePassOutcome> done;
      void didUpdateItems(std::vector<platform::ItemRef> items) override {
        outcome.updated.insert(outcome.updated.end(), items.begin(), items.end());
      }
      void didDeleteItemsWithIdentifiers(std::vector<platform::ItemIdentifier> ids) override {
        outcome.deleted.insert(outcome.deleted.end(), ids.begin(), ids.end());
      }
      void finishEnumeratingChangesUpToSyncAnchor(platform::SyncAnchor anchor, bool) override {
        outcome.anchor = std::move(anchor);
        done.set_value(outcome);
      }
      void finishEnumeratingWithError(const platform::Error& error) override {
        outcome.error = error;
        done.set_value(outcome);
      }
    };
    auto observer = std::make_shared<Observer>();
    auto future = observer->done.get_future();
    ext_->enumerator(platform::kWorkingSetContainerItemIdentifier, {})
        ->enumerateChanges(observer, ext_->anchor());
    return waitFor(future, "change pass");
  }

 private:
  static platform::WriteCompletion writeCompletion(std::shared_ptr<std::promise<WriteOutcome>> done) {
    return [done](platform::ItemRef item, platform::ItemFields pending, bool fetch,
                  std::optional<platform::Error> error) {
      done->set_value({std::move(item), pending, fetch, std::move(error)});
    };
  }

  template <class T>
  static T wait(const std::shared_ptr<std::promise<T>>& done, const char* what) {
    auto future = done->get_future();
    return waitFor(future, what);
  }

  template <class T>
  static T waitFor(std::future<T>& future, const char* what) {
    if (future.wait_for(std::chrono::minutes(1)) != std::future_status::ready) {
      ADD_FAILURE() << what << ": no completion within a minute";
      platform::Error none("test", -1, "no completion");
      if constexpr (std::is_same_v<T, std::optional<platform::Error>>) {
        return none;
      } else {
        T timedOut{};
        timedOut.error = none;
        return timedOut;
      }
    }
    return future.get();
  }

  std::string domain_;
  WritebackEnv env_;
  std::shared_ptr<Dav> dav_;
  std::shared_ptr<State> state_;
  std::shared_ptr<FileProviderExtension> ext_;
  int files_ = 0;
};

}  // namespace davfp::testing
