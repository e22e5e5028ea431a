// The program's side of the contract: every request and enumeration waits for its outcome, whatever thread
// delivers it, pages are followed to the last, and a completion that breaks the contract is an error, never a
// result.
#include "client/platform_client.h"

#include <gtest/gtest.h>

#include "client/template_item.h"
#include "platform/jobs.h"

namespace davfp::cli {
namespace {

platform::Error noSuchItem() { return platform::Error(platform::kFileProviderErrorDomain, -1005); }
platform::ItemRef file(const std::string& id) {
  return std::make_shared<client::TemplateItem>(
      client::TemplateItem::Properties{.identifier = id, .filename = id});
}

// Knows the file "a" and the folder "p", which gives its three children one page each; answers from other
// threads, and breaks the contract on a fetch (neither file nor error).
class PagingExtension final : public platform::ReplicatedExtension {
  using Progress = std::shared_ptr<platform::Progress>;
  static Progress later(std::function<void()> fn) {
    platform::spawn(std::move(fn));
    return platform::Progress::make(1);
  }
  class Enumerator final : public platform::Enumerator {
   public:
    explicit Enumerator(std::string container) : container_(std::move(container)) {}
    void invalidate() override {}
    void enumerateItems(std::shared_ptr<platform::EnumerationObserver> observer,
                        platform::Page page) override {
      later([observer, page, paged = container_ == "p"] {
        if (!paged) return observer->finishEnumeratingWithError(noSuchItem());
        size_t at = page == platform::kInitialPageSortedByName ? 0 : std::stoul(page);
        observer->didEnumerateItems({file("p" + std::to_string(at + 1))});
        observer->finishEnumeratingUpToPage(at < 2 ? std::optional(std::to_string(at + 1)) : std::nullopt);
      });
    }
    void enumerateChanges(std::shared_ptr<platform::ChangeObserver>, platform::SyncAnchor) override {}
    void currentSyncAnchor(std::function<void(std::optional<platform::SyncAnchor>)> done) override {
      done("41");
    }

   private:
    std::string container_;
  };

 public:
  void invalidate() override {}
  Progress itemForIdentifier(const platform::ItemIdentifier& id, const platform::Request&,
                             platform::ItemCompletion done) override {
    return later([done, id] { id == "a" ? done(file("a"), std::nullopt) : done(nullptr, noSuchItem()); });
  }
  Progress fetchContents(const platform::ItemIdentifier&, std::optional<platform::ItemVersion>,
                         const platform::Request&, platform::FetchCompletion done) override {
    return later([done] { done(std::nullopt, nullptr, std::nullopt); });
  }
  // Never asked for here.
  Progress createItem(platform::ItemRef, platform::ItemFields, std::optional<std::string>,
                      platform::CreateItemOptions, const platform::Request&,
                      platform::WriteCompletion) override {
    return nullptr;
  }
  Progress modifyItem(platform::ItemRef, platform::ItemVersion, platform::ItemFields,
                      std::optional<std::string>, platform::ModifyItemOptions, const platform::Request&,
                      platform::WriteCompletion) override {
    return nullptr;
  }
  Progress deleteItem(const platform::ItemIdentifier&, platform::ItemVersion, platform::DeleteItemOptions,
                      const platform::Request&, platform::DeleteCompletion) override {
    return nullptr;
  }
  std::shared_ptr<platform::Enumerator> enumerator(const platform::ItemIdentifier& container,
                                                   const platform::Request&) override {
    return std::make_shared<Enumerator>(container);
  }
};

TEST(PlatformTest, RequestsWaitForTheirOutcome) {
  client::PlatformClient platform{std::make_shared<PagingExtension>()};
  EXPECT_EQ(platform.item("a")->filename(), "a");
  auto paged = platform.enumerate("p");
  ASSERT_EQ(paged.size(), 3u);
  EXPECT_EQ(paged[2]->itemIdentifier(), "p3");
  EXPECT_EQ(platform.currentAnchor(platform::kWorkingSetContainerItemIdentifier), "41");

  // Errors come as errors; a completion without a result or an error breaks the contract and is one too.
  const auto errorOf = [](const std::function<void()>& request) {
    try {
      request();
    } catch (const platform::Error& e) {
      return std::to_string(e.code()) + " " + e.domain();
    }
    return std::string("none");
  };
  EXPECT_EQ(errorOf([&] { platform.item("missing"); }), "-1005 NSFileProviderErrorDomain");
  EXPECT_EQ(errorOf([&] { platform.enumerate("missing"); }), "-1005 NSFileProviderErrorDomain");
  EXPECT_EQ(errorOf([&] { platform.fetch("a", std::nullopt); }), "512 NSCocoaErrorDomain");
}

}  // namespace
}  // namespace davfp::cli
