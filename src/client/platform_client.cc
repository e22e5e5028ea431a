#include "client/platform_client.h"

#include <filesystem>
#include <system_error>
#include <utility>

#include "client/errors.h"

namespace davfp::client {

using platform::Error;
using platform::ItemRef;

namespace {

// The completion handler of a creation or modification.
platform::WriteCompletion writeCompletion(
    std::shared_ptr<Pending<PlatformClient::Written>::Completion> completion, const char* request) {
  return [completion = std::move(completion), request](ItemRef item, platform::ItemFields pending,
                                                       bool shouldFetchContent, std::optional<Error> error) {
    if (error) {
      completion->fail(*error);
    } else if (!item) {
      completion->fail(brokenContract(request));
    } else {
      completion->deliver({std::move(item), pending, shouldFetchContent});
    }
  };
}

}  // namespace

PlatformClient::PlatformClient(std::shared_ptr<platform::ReplicatedExtension> extension,
                               std::stop_token cancel)
    : extension_(std::move(extension)), cancel_(std::move(cancel)) {}

void PlatformClient::attach(std::shared_ptr<platform::ReplicatedExtension> extension) {
  extension_ = std::move(extension);
}

Pending<ItemRef> PlatformClient::startItem(const platform::ItemIdentifier& identifier) {
  Pending<ItemRef> pending;
  pending.setProgress(extension_->itemForIdentifier(
      identifier, platform::Request{},
      [completion = pending.completion()](ItemRef item, std::optional<Error> error) {
        if (error) {
          completion->fail(*error);
        } else if (!item) {
          completion->fail(brokenContract("an item lookup"));
        } else {
          completion->deliver(std::move(item));
        }
      }));
  return pending;
}

Pending<PlatformClient::Fetched> PlatformClient::startFetch(const platform::ItemIdentifier& identifier,
                                                            std::optional<platform::ItemVersion> version) {
  Pending<Fetched> pending;
  pending.setProgress(extension_->fetchContents(
      identifier, std::move(version), platform::Request{},
      [completion = pending.completion()](std::optional<std::string> file, ItemRef item,
                                          std::optional<Error> error) {
        if (error) {
          completion->fail(*error);
        } else if (!file || !item) {
          completion->fail(brokenContract("a fetch"));
        } else if (!completion->deliver(Fetched{*file, std::move(item)})) {
          // An outcome came first: nobody takes the file.
          std::error_code ignored;
          std::filesystem::remove(*file, ignored);
        }
      }));
  return pending;
}

Pending<PlatformClient::Written> PlatformClient::startCreate(ItemRef itemTemplate,
                                                             platform::ItemFields fields,
                                                             std::optional<std::string> contents) {
  Pending<Written> pending;
  pending.setProgress(extension_->createItem(std::move(itemTemplate), fields, std::move(contents), 0,
                                             platform::Request{},
                                             writeCompletion(pending.completion(), "a creation")));
  return pending;
}

Pending<PlatformClient::Written> PlatformClient::startModify(ItemRef item, platform::ItemVersion baseVersion,
                                                             platform::ItemFields changedFields,
                                                             std::optional<std::string> contents) {
  Pending<Written> pending;
  pending.setProgress(extension_->modifyItem(std::move(item), std::move(baseVersion), changedFields,
                                             std::move(contents), 0, platform::Request{},
                                             writeCompletion(pending.completion(), "a modification")));
  return pending;
}

Pending<void> PlatformClient::startRemove(const platform::ItemIdentifier& identifier,
                                          platform::ItemVersion baseVersion, bool recursive) {
  Pending<void> pending;
  pending.setProgress(extension_->deleteItem(identifier, std::move(baseVersion),
                                             recursive ? platform::kDeleteRecursive : 0, platform::Request{},
                                             [completion = pending.completion()](std::optional<Error> error) {
                                               if (error) {
                                                 completion->fail(*error);
                                               } else {
                                                 completion->deliver();
                                               }
                                             }));
  return pending;
}

ItemRef PlatformClient::item(const platform::ItemIdentifier& identifier) {
  return startItem(identifier).wait(cancel_);
}

std::vector<ItemRef> PlatformClient::enumerate(const platform::ItemIdentifier& container) {
  auto enumerator = extension_->enumerator(container, platform::Request{});
  std::vector<ItemRef> items;
  std::optional<platform::Page> page = platform::kInitialPageSortedByName;
  while (page) {
    auto observer = std::make_shared<Enumeration>();
    enumerator->enumerateItems(observer, *page);
    auto record = observer->wait(cancel_);
    if (items.empty()) {
      items = std::move(record.items);
    } else {
      items.insert(items.end(), record.items.begin(), record.items.end());
    }
    page = std::move(record.nextPage);
  }
  enumerator->invalidate();
  return items;
}

PlatformClient::Changes PlatformClient::changes(const platform::ItemIdentifier& container,
                                                const platform::SyncAnchor& from) {
  auto observer = std::make_shared<Enumeration>();
  auto enumerator = extension_->enumerator(container, platform::Request{});
  enumerator->enumerateChanges(observer, from);
  auto record = observer->wait(cancel_);
  enumerator->invalidate();
  return Changes{std::move(record.changes), std::move(record.anchor).value_or(""), record.moreComing};
}

platform::SyncAnchor PlatformClient::currentAnchor(const platform::ItemIdentifier& container) {
  // The completion has no progress: a cancelled wait simply ends.
  Pending<std::optional<platform::SyncAnchor>> pending;
  auto enumerator = extension_->enumerator(container, platform::Request{});
  enumerator->currentSyncAnchor(
      [completion = pending.completion()](std::optional<platform::SyncAnchor> anchor) {
        completion->deliver(std::move(anchor));
      });
  auto anchor = pending.wait(cancel_);
  enumerator->invalidate();
  return anchor.value_or("");
}

PlatformClient::Fetched PlatformClient::fetch(const platform::ItemIdentifier& identifier,
                                              std::optional<platform::ItemVersion> version) {
  return startFetch(identifier, std::move(version)).wait(cancel_);
}

PlatformClient::Written PlatformClient::create(ItemRef itemTemplate, platform::ItemFields fields,
                                               std::optional<std::string> contents) {
  return startCreate(std::move(itemTemplate), fields, std::move(contents)).wait(cancel_);
}

PlatformClient::Written PlatformClient::modify(ItemRef item, platform::ItemVersion baseVersion,
                                               platform::ItemFields changedFields,
                                               std::optional<std::string> contents) {
  return startModify(std::move(item), std::move(baseVersion), changedFields, std::move(contents))
      .wait(cancel_);
}

void PlatformClient::remove(const platform::ItemIdentifier& identifier, platform::ItemVersion baseVersion,
                            bool recursive) {
  startRemove(identifier, std::move(baseVersion), recursive).wait(cancel_);
}

}  // namespace davfp::client
