// Change enumeration: re-listing every remembered folder and comparing it with its snapshot.
//
// A pass is delivered whole or not at all: what it finds (forgotten paths, new snapshots, identifiers of new
// items, the anchor's rises) is committed to the state in one step, just before it is reported. A pass that
// fails on any folder reports nothing and changes nothing, so the next pass finds the same changes again.
// A remembered folder that the server refuses to list (401, 403: access revoked) is no failure of the pass:
// it and everything below it are left out of it, their snapshots kept, so nothing in them is reported.
#include <algorithm>
#include <string_view>
#include <unordered_set>

#include "platform/jobs.h"
#include "platform/text.h"
#include "provider/enumerator.h"
#include "provider/extension.h"
#include "provider/frame.h"
#include "platform/server_path.h"
#include "provider/listing_prefetch.h"
#include "provider/snapshots.h"

namespace davfp {

namespace {

struct PassResult {
  State::Batch pass;
  std::vector<DavEntry> updated;
  std::vector<platform::ItemIdentifier> deleted;
};

}  // namespace

void Enumerator::enumerateChanges(std::shared_ptr<platform::ChangeObserver> observer, platform::SyncAnchor) {
  platform::spawn([self = shared_from_this(), observer] {
    bool finished = false;  // set just before a finish call: never a second one
    try {
      // Folders and the trash report no changes of their own.
      if (self->container_ == platform::kWorkingSetContainerItemIdentifier) {
        auto changes = self->findChanges();
        if (!changes.updated.empty()) observer->didUpdateItems(std::move(changes.updated));
        if (!changes.deleted.empty()) observer->didDeleteItemsWithIdentifiers(std::move(changes.deleted));
      }
      finished = true;
      observer->finishEnumeratingChangesUpToSyncAnchor(self->ext_->anchor(), false);
    } catch (...) {
      if (!finished) observer->finishEnumeratingWithError(fpError(std::current_exception()));
    }
  });
}

Enumerator::Changes Enumerator::findChanges() {
  State& state = ext_->state();
  auto known = state.knownFolders();
  // Parents before their subfolders: a folder found gone is reported once, by its own identifier, and nothing
  // remembered below it is listed again.
  std::vector<std::string> folders;
  folders.reserve(known.size());
  for (const auto& [folder, snapshot] : known) folders.push_back(folder);
  std::sort(folders.begin(), folders.end());

  // The next folder's listing is fetched while this one is compared; the prefetch lists nothing that this
  // loop would skip, as long as each path found gone is handed to it before the next folder is taken.
  ListingPrefetch fetched(ext_->dav().shared_from_this(), std::move(folders));
  PassResult found;
  std::vector<std::string> gone;
  auto vanish = [&](const std::string& path) {
    // Only identifiers the platform already knows are reported; none is minted to report a deletion.
    if (auto id = state.existingId(path)) found.deleted.push_back(*id);
    found.pass.steps.push_back({State::Step::Kind::forget, path, {}});
    gone.push_back(path);
    fetched.skip(path);
  };

  while (auto next = fetched.next()) {
    const std::string& folder = next->folder;
    if (platform::isUnderAny(folder, gone)) continue;
    if (next->forbidden) {
      // Refused at the root, the drive itself is refused: the pass fails as for an unreachable server.
      if (folder == "/") throw DavError::forbidden();
      fetched.skip(folder);
      continue;
    }
    if (next->notFound) {
      // The root container cannot be deleted, and forgetting "/" would drop every identifier: a drive whose
      // root is missing is not being served there now, and the pass fails like one that cannot reach it.
      if (folder == "/") throw DavError::unreachable();
      vanish(folder);
      continue;
    }
    std::vector<DavEntry> kids = childrenOf(folder, std::move(next->listing).entries());
    const auto& prev = known.at(folder);
    // Views of the listing's paths: the listing outlives the comparison.
    std::unordered_set<std::string_view, platform::CanonicalHash, platform::CanonicalEqual> current;
    current.reserve(kids.size());
    for (const auto& kid : kids) {
      current.insert(kid.path);
      auto it = prev.find(kid.path);
      if (it == prev.end() || !sameVersion(it->second, kid.version())) found.updated.push_back(kid);
    }
    for (const auto& [child, version] : prev) {
      if (!current.contains(child) && !platform::isUnderAny(child, gone)) vanish(child);
    }
    found.pass.steps.push_back({State::Step::Kind::remember, folder, snapshotOf(kids)});
  }

  bool changed = !found.updated.empty() || !found.deleted.empty() || !gone.empty();
  found.pass.bump = changed;
  std::vector<std::string> parents;  // reserved: the views below must not move
  parents.reserve(found.updated.size());
  for (const auto& e : found.updated) {
    parents.push_back(platform::parentPath(e.path));
    found.pass.mint.push_back(e.path);
    found.pass.mint.push_back(parents.back());
  }
  state.commit(std::move(found.pass));
  return Changes{ext_->items(std::move(found.updated)), std::move(found.deleted)};
}

}  // namespace davfp
