#include "provider/change_pass.h"

#include <algorithm>
#include <string>
#include <string_view>
#include <unordered_set>

#include "dav/dav_error.h"
#include "dav/listing.h"
#include "platform/server_path.h"
#include "platform/text.h"
#include "provider/listing_prefetch.h"
#include "provider/snapshots.h"

namespace davfp {

ChangePass::ChangePass(std::shared_ptr<Dav> dav, State& state, const Lookup& lookup)
    : dav_(std::move(dav)), state_(state), lookup_(lookup) {}

ChangePass::Changes ChangePass::run() {
  auto known = state_.knownFolders();
  // Parents before their subfolders: a folder found gone is reported once, by its own identifier, and nothing
  // remembered below it is listed again.
  std::vector<std::string> folders;
  folders.reserve(known.size());
  for (const auto& [folder, snapshot] : known) folders.push_back(folder);
  std::sort(folders.begin(), folders.end());

  // The next folder's listing is fetched while this one is compared; the prefetch lists nothing that this
  // loop would skip, as long as each path found gone is handed to it before the next folder is taken.
  ListingPrefetch fetched(dav_, std::move(folders));
  State::Batch batch;
  std::vector<DavEntry> updated;
  std::vector<platform::ItemIdentifier> deleted;
  std::vector<std::string> gone;
  auto vanish = [&](const std::string& path) {
    // Only identifiers the platform already knows are reported; none is minted to report a deletion.
    if (auto id = state_.existingId(path)) deleted.push_back(*id);
    batch.steps.push_back({State::Step::Kind::forget, path, {}});
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
      if (it == prev.end() || !sameVersion(it->second, kid.version())) updated.push_back(kid);
    }
    for (const auto& [child, version] : prev) {
      if (!current.contains(child) && !platform::isUnderAny(child, gone)) vanish(child);
    }
    batch.steps.push_back({State::Step::Kind::remember, folder, snapshotOf(kids)});
  }

  batch.bump = !updated.empty() || !deleted.empty() || !gone.empty();
  // One state step for all of it: the steps, the identifiers of the updated items and of their folders, the
  // anchor's rise.
  std::vector<platform::ItemRef> items = lookup_.commitItems(std::move(batch), std::move(updated));
  return Changes{std::move(items), std::move(deleted)};
}

}  // namespace davfp
