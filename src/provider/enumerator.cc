#include "provider/enumerator.h"

#include <exception>
#include <iterator>
#include <utility>
#include <vector>

#include "dav/dav_error.h"
#include "dav/listing.h"
#include "platform/error.h"
#include "platform/jobs.h"
#include "platform/once.h"
#include "provider/change_pass.h"
#include "provider/frame.h"
#include "provider/listing_prefetch.h"
#include "provider/sync_anchor.h"

namespace davfp {

namespace {

// Guarantees one finish call per item enumeration: the job's own finish, or an error finish when something
// escapes before it.
class ItemFinishGuard {
 public:
  explicit ItemFinishGuard(platform::EnumerationObserver& observer) : observer_(observer) {}
  void finish() {
    finished_.claim();
    observer_.finishEnumeratingUpToPage(std::nullopt);
  }
  void fail(std::exception_ptr error) {
    if (!finished_.claim()) return;
    observer_.finishEnumeratingWithError(fpError(error));
  }

 private:
  platform::EnumerationObserver& observer_;
  platform::Once<> finished_;
};

}  // namespace

Enumerator::Enumerator(platform::ItemIdentifier container, std::string domain, std::shared_ptr<Dav> dav,
                       std::shared_ptr<State> state, std::shared_ptr<const Lookup> lookup)
    : container_(std::move(container)),
      domain_(std::move(domain)),
      dav_(std::move(dav)),
      state_(std::move(state)),
      lookup_(std::move(lookup)) {}

// --- Items ---

void Enumerator::enumerateItems(std::shared_ptr<platform::EnumerationObserver> observer, platform::Page) {
  if (container_ == platform::kTrashContainerItemIdentifier || domain_ == kPlaceholderDomain) {
    observer->finishEnumeratingUpToPage(std::nullopt);
    return;
  }
  platform::spawn([self = shared_from_this(), observer] {
    ItemFinishGuard guard(*observer);
    try {
      if (self->container_ == platform::kWorkingSetContainerItemIdentifier) {
        self->enumerateWorkingSet(*observer);
      } else {
        self->enumerateFolder(*observer);
      }
      guard.finish();
    } catch (...) {
      guard.fail(std::current_exception());
    }
  });
}

void Enumerator::enumerateWorkingSet(platform::EnumerationObserver& observer) {
  std::vector<std::string> folders;
  for (const auto& [folder, snapshot] : state_->knownFolders()) folders.push_back(folder);
  // Each folder's answer is parsed while the next folder's request is on the wire.
  ListingPrefetch fetched(dav_, std::move(folders));
  std::vector<DavEntry> all;
  while (auto next = fetched.next()) {
    // A remembered folder that vanished is left out; change enumeration reports it. So is one that the
    // server refuses to list, unless it is the root: then the drive itself is refused.
    if (next->notFound) continue;
    if (next->forbidden) {
      if (next->folder == "/") throw DavError::forbidden();
      continue;
    }
    auto kids = childrenOf(next->folder, std::move(next->listing).entries());
    all.insert(all.end(), std::make_move_iterator(kids.begin()), std::make_move_iterator(kids.end()));
  }
  observer.didEnumerateItems(lookup_->items(std::move(all)));
}

void Enumerator::enumerateFolder(platform::EnumerationObserver& observer) {
  auto path = state_->path(container_);
  if (!path) throw platform::Error(platform::kFileProviderErrorDomain, platform::fp::kNoSuchItem);
  observer.didEnumerateItems(lookup_->rememberedItems(*path, lookup_->children(*path)));
}

// --- Changes ---

void Enumerator::enumerateChanges(std::shared_ptr<platform::ChangeObserver> observer, platform::SyncAnchor) {
  platform::spawn([self = shared_from_this(), observer] {
    bool finished = false;  // set just before a finish call: never a second one
    try {
      // Folders and the trash report no changes of their own.
      if (self->container_ == platform::kWorkingSetContainerItemIdentifier) {
        auto changes = ChangePass(self->dav_, *self->state_, *self->lookup_).run();
        if (!changes.updated.empty()) observer->didUpdateItems(std::move(changes.updated));
        if (!changes.deleted.empty()) observer->didDeleteItemsWithIdentifiers(std::move(changes.deleted));
      }
      finished = true;
      observer->finishEnumeratingChangesUpToSyncAnchor(syncAnchor(*self->state_), false);
    } catch (...) {
      if (!finished) observer->finishEnumeratingWithError(fpError(std::current_exception()));
    }
  });
}

void Enumerator::currentSyncAnchor(std::function<void(std::optional<platform::SyncAnchor>)> completion) {
  completion(syncAnchor(*state_));
}

}  // namespace davfp
