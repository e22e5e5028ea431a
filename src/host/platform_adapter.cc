#include "host/platform_adapter.h"

#include <unistd.h>

#include <mutex>

#include "host/delivery.h"

namespace davfp::cli {

using platform::Error;
using platform::ItemRef;

Error cancelledError() { return Error(platform::kCocoaErrorDomain, platform::cocoa::kUserCancelled); }

namespace {

// Cancels a request through its progress, as the platform does when the person cancels it.
template <class T>
T awaitRequest(Interrupt& interrupt, const std::shared_ptr<platform::Progress>& progress,
               Delivery<T>& delivery) {
  Interrupt::Scope scope(interrupt, [progress] {
    if (progress) progress->cancel();
  });
  return delivery.wait();
}

// Enumerations have no progress to cancel: the wait itself ends, and the enumeration runs out unobserved.
template <class T>
T awaitEnumeration(Interrupt& interrupt, Delivery<T>& delivery) {
  Interrupt::Scope scope(interrupt, [&delivery] { delivery.fail(cancelledError()); });
  return delivery.wait();
}

// A completion handler that delivers nothing, or nothing but an error, breaks the contract; the program
// says so instead of waiting forever or dereferencing nothing.
Error brokenContract(const char* what) {
  return Error(platform::kCocoaErrorDomain, platform::cocoa::kFileWriteUnknown,
               std::string("the extension answered ") + what + " without a result or an error");
}

class CollectingObserver final : public platform::EnumerationObserver {
 public:
  void didEnumerateItems(std::vector<ItemRef> items) override {
    std::lock_guard guard(mu_);
    items_.insert(items_.end(), items.begin(), items.end());
  }
  void finishEnumeratingUpToPage(std::optional<platform::Page>) override {
    std::vector<ItemRef> items;
    {
      std::lock_guard guard(mu_);
      items = items_;
    }
    delivery.deliver(std::move(items));
  }
  void finishEnumeratingWithError(const Error& error) override { delivery.fail(error); }

  Delivery<std::vector<ItemRef>> delivery;

 private:
  std::mutex mu_;
  std::vector<ItemRef> items_;  // guarded by mu_
};

class ChangeCollector final : public platform::ChangeObserver {
 public:
  void didUpdateItems(std::vector<ItemRef> items) override {
    std::lock_guard guard(mu_);
    for (auto& item : items) changes_.push_back({std::move(item), std::nullopt});
  }
  void didDeleteItemsWithIdentifiers(std::vector<platform::ItemIdentifier> identifiers) override {
    std::lock_guard guard(mu_);
    for (auto& id : identifiers) changes_.push_back({nullptr, std::move(id)});
  }
  void finishEnumeratingChangesUpToSyncAnchor(platform::SyncAnchor anchor, bool) override {
    Platform::Changes result;
    {
      std::lock_guard guard(mu_);
      result.changes = changes_;
    }
    result.anchor = std::move(anchor);
    delivery.deliver(std::move(result));
  }
  void finishEnumeratingWithError(const Error& error) override { delivery.fail(error); }

  Delivery<Platform::Changes> delivery;

 private:
  std::mutex mu_;
  std::vector<Platform::Change> changes_;  // guarded by mu_
};

}  // namespace

Platform::Platform(std::shared_ptr<platform::ReplicatedExtension> extension, Interrupt& interrupt)
    : extension_(std::move(extension)), interrupt_(interrupt) {}

void Platform::attach(std::shared_ptr<platform::ReplicatedExtension> extension) {
  extension_ = std::move(extension);
}

ItemRef Platform::item(const platform::ItemIdentifier& identifier) {
  auto delivery = std::make_shared<Delivery<ItemRef>>();
  auto progress = extension_->itemForIdentifier(identifier, platform::Request{},
                                                [delivery](ItemRef item, std::optional<Error> error) {
                                                  if (error) {
                                                    delivery->fail(*error);
                                                  } else if (!item) {
                                                    delivery->fail(brokenContract("an item lookup"));
                                                  } else {
                                                    delivery->deliver(std::move(item));
                                                  }
                                                });
  return awaitRequest(interrupt_, progress, *delivery);
}

std::vector<ItemRef> Platform::enumerate(const platform::ItemIdentifier& container) {
  auto observer = std::make_shared<CollectingObserver>();
  auto enumerator = extension_->enumerator(container, platform::Request{});
  enumerator->enumerateItems(observer, platform::kInitialPageSortedByName);
  auto items = awaitEnumeration(interrupt_, observer->delivery);
  enumerator->invalidate();
  return items;
}

Platform::Changes Platform::changes(const platform::ItemIdentifier& container,
                                    const platform::SyncAnchor& from) {
  auto observer = std::make_shared<ChangeCollector>();
  auto enumerator = extension_->enumerator(container, platform::Request{});
  enumerator->enumerateChanges(observer, from);
  auto changes = awaitEnumeration(interrupt_, observer->delivery);
  enumerator->invalidate();
  return changes;
}

platform::SyncAnchor Platform::currentAnchor(const platform::ItemIdentifier& container) {
  auto delivery = std::make_shared<Delivery<std::optional<platform::SyncAnchor>>>();
  auto enumerator = extension_->enumerator(container, platform::Request{});
  enumerator->currentSyncAnchor(
      [delivery](std::optional<platform::SyncAnchor> anchor) { delivery->deliver(std::move(anchor)); });
  auto anchor = awaitEnumeration(interrupt_, *delivery);
  enumerator->invalidate();
  return anchor.value_or("");
}

Platform::Fetched Platform::fetch(const platform::ItemIdentifier& identifier,
                                  std::optional<platform::ItemVersion> version) {
  auto delivery = std::make_shared<Delivery<Fetched>>();
  auto progress = extension_->fetchContents(
      identifier, std::move(version), platform::Request{},
      [delivery](std::optional<std::string> file, ItemRef item, std::optional<Error> error) {
        if (error) {
          delivery->fail(*error);
        } else if (!file || !item) {
          delivery->fail(brokenContract("a fetch"));
        } else if (!delivery->deliver(Fetched{*file, std::move(item)})) {
          // Cancelled first: nobody takes the file.
          ::unlink(file->c_str());
        }
      });
  return awaitRequest(interrupt_, progress, *delivery);
}

ItemRef Platform::create(ItemRef itemTemplate, platform::ItemFields fields,
                         std::optional<std::string> contents) {
  auto delivery = std::make_shared<Delivery<ItemRef>>();
  auto progress = extension_->createItem(
      std::move(itemTemplate), fields, std::move(contents), 0, platform::Request{},
      [delivery](ItemRef item, platform::ItemFields, bool, std::optional<Error> error) {
        if (error) {
          delivery->fail(*error);
        } else if (!item) {
          delivery->fail(brokenContract("a creation"));
        } else {
          delivery->deliver(std::move(item));
        }
      });
  return awaitRequest(interrupt_, progress, *delivery);
}

Platform::Modified Platform::modify(ItemRef item, platform::ItemVersion baseVersion,
                                    platform::ItemFields changedFields, std::optional<std::string> contents) {
  auto delivery = std::make_shared<Delivery<Modified>>();
  auto progress = extension_->modifyItem(
      std::move(item), std::move(baseVersion), changedFields, std::move(contents), 0, platform::Request{},
      [delivery](ItemRef modified, platform::ItemFields pending, bool, std::optional<Error> error) {
        if (error) {
          delivery->fail(*error);
        } else if (!modified) {
          delivery->fail(brokenContract("a modification"));
        } else {
          delivery->deliver(Modified{std::move(modified), pending});
        }
      });
  return awaitRequest(interrupt_, progress, *delivery);
}

void Platform::remove(const platform::ItemIdentifier& identifier, platform::ItemVersion baseVersion,
                      bool recursive) {
  auto delivery = std::make_shared<Delivery<bool>>();
  auto progress =
      extension_->deleteItem(identifier, std::move(baseVersion), recursive ? platform::kDeleteRecursive : 0,
                             platform::Request{}, [delivery](std::optional<Error> error) {
                               if (error) {
                                 delivery->fail(*error);
                               } else {
                                 delivery->deliver(true);
                               }
                             });
  awaitRequest(interrupt_, progress, *delivery);
}

}  // namespace davfp::cli
