// Item enumeration of folders, the working set and the trash.
#include "provider/enumerator.h"

#include "dav/listing.h"
#include "platform/jobs.h"
#include "platform/once.h"
#include "provider/extension.h"
#include "provider/frame.h"
#include "provider/listing_prefetch.h"

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

void Enumerator::enumerateItems(std::shared_ptr<platform::EnumerationObserver> observer, platform::Page) {
  if (container_ == platform::kTrashContainerItemIdentifier || ext_->domain().identifier == kPlaceholderDomain) {
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
  for (const auto& [folder, snapshot] : ext_->state().knownFolders()) folders.push_back(folder);
  // Each folder's answer is parsed while the next folder's request is on the wire.
  ListingPrefetch fetched(ext_->dav().shared_from_this(), std::move(folders));
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
  observer.didEnumerateItems(ext_->items(std::move(all)));
}

void Enumerator::enumerateFolder(platform::EnumerationObserver& observer) {
  auto path = ext_->state().path(container_);
  if (!path) throw platform::Error(platform::kFileProviderErrorDomain, platform::fp::kNoSuchItem);
  observer.didEnumerateItems(ext_->rememberedItems(*path, ext_->children(*path)));
}

void Enumerator::currentSyncAnchor(std::function<void(std::optional<platform::SyncAnchor>)> completion) {
  completion(ext_->anchor());
}

}  // namespace davfp
