// FakeExtension: an extension for the davfp program's unit tests. It holds a tree of items in memory and
// answers from other threads, as the real one does; enumerations deliver their items in batches of one. A
// folder named "paged" gives each child on a page of its own. Writes are refused; a fetch breaks the
// contract (neither file nor error). Thread-safe.
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
    later([completion, item = find(id)] {
      if (!item) return completion(nullptr, noSuchItem());
      completion(item, std::nullopt);
    });
    return platform::Progress::make(1);
  }

  std::shared_ptr<platform::Progress> fetchContents(const platform::ItemIdentifier&,
                                                    std::optional<platform::ItemVersion>,
                                                    const platform::Request&,
                                                    platform::FetchCompletion completion) override {
    later([completion] { completion(std::nullopt, nullptr, std::nullopt); });
    return platform::Progress::make(1);
  }

  std::shared_ptr<platform::Progress> createItem(platform::ItemRef, platform::ItemFields,
                                                 std::optional<std::string>, platform::CreateItemOptions,
                                                 const platform::Request&,
                                                 platform::WriteCompletion completion) override {
    later([completion] { completion(nullptr, 0, false, noSuchItem()); });
    return platform::Progress::make(1);
  }

  std::shared_ptr<platform::Progress> modifyItem(platform::ItemRef, platform::ItemVersion, platform::ItemFields,
                                                 std::optional<std::string>, platform::ModifyItemOptions,
                                                 const platform::Request&,
                                                 platform::WriteCompletion completion) override {
    later([completion] { completion(nullptr, 0, false, noSuchItem()); });
    return platform::Progress::make(1);
  }

  std::shared_ptr<platform::Progress> deleteItem(const platform::ItemIdentifier&, platform::ItemVersion,
                                                 platform::DeleteItemOptions, const platform::Request&,
                                                 platform::DeleteCompletion completion) override {
    later([completion] { completion(noSuchItem()); });
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
      ext_->later([ext = ext_, container = container_, observer, page] {
        auto folder = ext->find(container);
        if (!folder) return observer->finishEnumeratingWithError(noSuchItem());
        auto children = ext->childrenOf(container);
        if (folder->filename() == "paged") {
          size_t at = page == platform::kInitialPageSortedByName ? 0 : std::stoul(page);
          if (at < children.size()) observer->didEnumerateItems({children[at]});
          return observer->finishEnumeratingUpToPage(
              at + 1 < children.size() ? std::optional(std::to_string(at + 1)) : std::nullopt);
        }
        for (const auto& child : children) observer->didEnumerateItems({child});
        observer->finishEnumeratingUpToPage(std::nullopt);
      });
    }
    void enumerateChanges(std::shared_ptr<platform::ChangeObserver> observer, platform::SyncAnchor) override {
      ext_->later([observer] { observer->finishEnumeratingWithError(noSuchItem()); });
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
