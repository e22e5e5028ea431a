#include "platform_calls.h"

namespace davfp::bench {

namespace {

// Collects one item enumeration.
class ItemCollector final : public platform::EnumerationObserver {
 public:
  void didEnumerateItems(std::vector<platform::ItemRef> items) override {
    items_.insert(items_.end(), std::make_move_iterator(items.begin()), std::make_move_iterator(items.end()));
  }
  void finishEnumeratingUpToPage(std::optional<platform::Page>) override { done_.set_value(std::move(items_)); }
  void finishEnumeratingWithError(const platform::Error& error) override {
    done_.set_exception(std::make_exception_ptr(error));
  }
  std::future<std::vector<platform::ItemRef>> result() { return done_.get_future(); }

 private:
  std::vector<platform::ItemRef> items_;  // only the enumeration's job touches it before the finish call
  std::promise<std::vector<platform::ItemRef>> done_;
};

// Collects one change enumeration.
class ChangeCollector final : public platform::ChangeObserver {
 public:
  void didUpdateItems(std::vector<platform::ItemRef> items) override {
    changes_.updated.insert(changes_.updated.end(), items.begin(), items.end());
  }
  void didDeleteItemsWithIdentifiers(std::vector<platform::ItemIdentifier> ids) override {
    changes_.deleted.insert(changes_.deleted.end(), ids.begin(), ids.end());
  }
  void finishEnumeratingChangesUpToSyncAnchor(platform::SyncAnchor anchor, bool) override {
    changes_.anchor = std::move(anchor);
    done_.set_value(std::move(changes_));
  }
  void finishEnumeratingWithError(const platform::Error& error) override {
    done_.set_exception(std::make_exception_ptr(error));
  }
  std::future<ChangeSet> result() { return done_.get_future(); }

 private:
  ChangeSet changes_;
  std::promise<ChangeSet> done_;
};

template <class T>
void complete(typename Pending<T>::Shared& shared, std::optional<T> value, std::optional<platform::Error> error) {
  // A second completion must not throw into the engine: it is counted, and the first outcome stands.
  if (shared.completions.fetch_add(1) != 0) return;
  if (error) {
    shared.promise.set_exception(std::make_exception_ptr(*error));
  } else {
    shared.promise.set_value(std::move(*value));
  }
}

}  // namespace

std::vector<platform::ItemRef> enumerateItems(FileProviderExtension& ext,
                                              const platform::ItemIdentifier& container) {
  auto observer = std::make_shared<ItemCollector>();
  auto result = observer->result();
  ext.enumerator(container, {})->enumerateItems(observer, platform::kInitialPageSortedByName);
  return result.get();
}

ChangeSet enumerateChanges(FileProviderExtension& ext) {
  auto observer = std::make_shared<ChangeCollector>();
  auto result = observer->result();
  auto enumerator = ext.enumerator(platform::kWorkingSetContainerItemIdentifier, {});
  enumerator->enumerateChanges(observer, ext.anchor());
  return result.get();
}

Pending<platform::ItemRef> startLookup(FileProviderExtension& ext, const platform::ItemIdentifier& id) {
  Pending<platform::ItemRef> pending;
  ext.itemForIdentifier(id, {}, [shared = pending.shared()](platform::ItemRef item, std::optional<platform::Error> e) {
    complete<platform::ItemRef>(*shared, item ? std::optional(item) : std::nullopt, std::move(e));
  });
  return pending;
}

Pending<std::string> startFetch(FileProviderExtension& ext, const platform::ItemIdentifier& id) {
  Pending<std::string> pending;
  ext.fetchContents(id, std::nullopt, {},
                    [shared = pending.shared()](std::optional<std::string> file, platform::ItemRef,
                                                std::optional<platform::Error> e) {
                      complete<std::string>(*shared, std::move(file), std::move(e));
                    });
  return pending;
}

Pending<platform::ItemRef> startModify(FileProviderExtension& ext, const platform::ItemRef& item,
                                       platform::ItemFields fields, std::optional<std::string> contents) {
  Pending<platform::ItemRef> pending;
  ext.modifyItem(item, item->itemVersion(), fields, std::move(contents), 0, {},
                 [shared = pending.shared()](platform::ItemRef modified, platform::ItemFields, bool,
                                             std::optional<platform::Error> e) {
                   complete<platform::ItemRef>(*shared, modified ? std::optional(modified) : std::nullopt,
                                               std::move(e));
                 });
  return pending;
}

}  // namespace davfp::bench
