// FakeExtension: an extension for the davfp program's unit tests. It holds a tree of items in memory and
// answers requests and enumerations from other threads, as the real one does; enumerations deliver their
// items in batches of one. An item named "slow" is never answered until its request is cancelled (a folder
// of that name never finishes its enumeration), one named "twice" gets two completions, and a folder named
// "paged" gives each child on a page of its own. Thread-safe.
#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "client/template_item.h"
#include "platform/file_provider.h"
#include "platform/jobs.h"

namespace davfp::cli::testing {

using client::TemplateItem;

class FakeExtension final : public platform::ReplicatedExtension,
                            public std::enable_shared_from_this<FakeExtension> {
 public:
  FakeExtension() {
    add(platform::kRootContainerItemIdentifier, platform::kRootContainerItemIdentifier, "Drive", true);
  }

  void add(const std::string& id, const std::string& parent, const std::string& name, bool folder) {
    std::lock_guard guard(mu_);
    TemplateItem::Properties p{.identifier = id, .parent = parent, .filename = name};
    if (folder) p.contentType = "inode/directory";
    items_[id] = std::make_shared<TemplateItem>(p);
    if (id != parent) children_[parent].push_back(id);
  }

  platform::ItemRef find(const std::string& id) {
    std::lock_guard guard(mu_);
    auto it = items_.find(id);
    return it == items_.end() ? nullptr : it->second;
  }

  std::vector<platform::ItemRef> childrenOf(const std::string& id) {
    std::lock_guard guard(mu_);
    std::vector<platform::ItemRef> out;
    for (const auto& child : children_[id]) out.push_back(items_[child]);
    return out;
  }

  int enumerations() const { return enumerations_; }

  static platform::Error noSuchItem() { return platform::Error(platform::kFileProviderErrorDomain, -1005); }

  void invalidate() override {}

  std::shared_ptr<platform::Progress> itemForIdentifier(const platform::ItemIdentifier& id,
                                                        const platform::Request&,
                                                        platform::ItemCompletion completion) override {
    auto progress = platform::Progress::make(1);
    auto item = find(id);
    if (item && item->filename() == "slow") {
      progress->setCancellationHandler(
          [completion] { completion(nullptr, platform::Error(platform::kCocoaErrorDomain, 3072)); });
      return progress;
    }
    later([completion, item] {
      if (!item) return completion(nullptr, noSuchItem());
      completion(item, std::nullopt);
      if (item->filename() == "twice") completion(nullptr, noSuchItem());
    });
    return progress;
  }

  std::shared_ptr<platform::Progress> fetchContents(const platform::ItemIdentifier&,
                                                    std::optional<platform::ItemVersion>,
                                                    const platform::Request&,
                                                    platform::FetchCompletion completion) override {
    later([completion] { completion(std::nullopt, nullptr, std::nullopt); });  // breaks the contract
    return platform::Progress::make(1);
  }

  std::shared_ptr<platform::Progress> createItem(platform::ItemRef itemTemplate, platform::ItemFields,
                                                 std::optional<std::string>, platform::CreateItemOptions,
                                                 const platform::Request&,
                                                 platform::WriteCompletion completion) override {
    auto p = TemplateItem::copyOf(*itemTemplate);
    p.identifier = "created-" + p.filename;
    add(p.identifier, p.parent, p.filename, p.contentType == "inode/directory");
    auto made = find(p.identifier);
    later([completion, made] { completion(made, 0, false, std::nullopt); });
    return platform::Progress::make(1);
  }

  std::shared_ptr<platform::Progress> modifyItem(platform::ItemRef item, platform::ItemVersion,
                                                 platform::ItemFields fields, std::optional<std::string>,
                                                 platform::ModifyItemOptions, const platform::Request&,
                                                 platform::WriteCompletion completion) override {
    later([completion, item, fields] { completion(item, fields & 0x3F8, false, std::nullopt); });
    return platform::Progress::make(1);
  }

  std::shared_ptr<platform::Progress> deleteItem(const platform::ItemIdentifier& id, platform::ItemVersion,
                                                 platform::DeleteItemOptions, const platform::Request&,
                                                 platform::DeleteCompletion completion) override {
    bool known = find(id) != nullptr;
    later([completion, known] {
      completion(known ? std::nullopt : std::optional<platform::Error>(noSuchItem()));
    });
    return platform::Progress::make(1);
  }

  std::shared_ptr<platform::Enumerator> enumerator(const platform::ItemIdentifier& container,
                                                   const platform::Request&) override {
    return std::make_shared<Enumerator>(shared_from_this(), container);
  }

 private:
  class Enumerator final : public platform::Enumerator {
   public:
    Enumerator(std::shared_ptr<FakeExtension> ext, platform::ItemIdentifier container)
        : ext_(std::move(ext)), container_(std::move(container)) {}
    void invalidate() override {}
    void enumerateItems(std::shared_ptr<platform::EnumerationObserver> observer,
                        platform::Page page) override {
      ++ext_->enumerations_;
      auto ext = ext_;
      auto container = container_;
      ext_->later([ext, container, observer, page] {
        auto folder = ext->find(container);
        if (!folder) return observer->finishEnumeratingWithError(noSuchItem());
        if (folder->filename() == "slow") return;  // never finishes
        if (folder->filename() == "paged") {
          auto children = ext->childrenOf(container);
          size_t at = page == platform::kInitialPageSortedByName ? 0 : std::stoul(page);
          if (at < children.size()) observer->didEnumerateItems({children[at]});
          return observer->finishEnumeratingUpToPage(
              at + 1 < children.size() ? std::optional(std::to_string(at + 1)) : std::nullopt);
        }
        for (const auto& child : ext->childrenOf(container)) observer->didEnumerateItems({child});
        observer->finishEnumeratingUpToPage(std::nullopt);
      });
    }
    void enumerateChanges(std::shared_ptr<platform::ChangeObserver> observer,
                          platform::SyncAnchor from) override {
      auto ext = ext_;
      ext_->later([ext, observer, from] {
        observer->didUpdateItems({ext->find(platform::kRootContainerItemIdentifier)});
        observer->didDeleteItemsWithIdentifiers({"gone-1", "gone-2"});
        observer->finishEnumeratingChangesUpToSyncAnchor(std::to_string(std::stoi(from) + 1), false);
      });
    }
    void currentSyncAnchor(std::function<void(std::optional<platform::SyncAnchor>)> completion) override {
      completion("41");
    }

   private:
    std::shared_ptr<FakeExtension> ext_;
    platform::ItemIdentifier container_;
  };

  void later(std::function<void()> fn) { platform::spawn(std::move(fn)); }

  std::mutex mu_;
  std::map<std::string, platform::ItemRef> items_;            // guarded by mu_
  std::map<std::string, std::vector<std::string>> children_;  // guarded by mu_
  std::atomic<int> enumerations_{0};
};

}  // namespace davfp::cli::testing
