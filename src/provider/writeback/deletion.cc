#include "provider/writeback/deletion.h"

#include <optional>

#include "dav/dav_error.h"
#include "dav/multistatus.h"
#include "platform/error.h"
#include "platform/jobs.h"
#include "platform/server_path.h"
#include "platform/text.h"

namespace davfp {

namespace {

platform::Error deletionRejected() {
  return platform::Error(platform::kFileProviderErrorDomain, platform::fp::kDeletionRejected);
}

platform::Error directoryNotEmpty() {
  return platform::Error(platform::kFileProviderErrorDomain, platform::fp::kDirectoryNotEmpty);
}

bool is(const DavError& e, DavError::Kind kind) { return e.kind() == kind; }

// Throws deletionRejected when a member inside a folder that the domain has listed is new there or changed
// since. Files are compared by version. Folders are only looked for: a folder's own version changes whenever
// its contents do, but a folder that the snapshot lacks is new, and so is everything inside it, which no
// snapshot covers.
void checkUnchanged(const std::vector<DavEntry>& members, const State::Snapshots& known) {
  for (const auto& member : members) {
    auto folder = known.find(platform::parentPath(member.path));
    if (folder == known.end()) continue;  // never listed: nothing to compare with
    auto noted = folder->second.find(member.path);
    if (noted == folder->second.end()) throw deletionRejected();
    if (!member.isDir && !sameVersion(noted->second, member.version())) throw deletionRejected();
  }
}

// The deepest a tree is walked below the folder being deleted. A server that follows symbolic links shows a
// link to a folder above as a folder of its own, and the walk would go round that loop until the server gives
// up; a loop holds the folders around it, which must never be deleted as members of this one.
constexpr int kMaxTreeDepth = 64;

// Adds every member below folder (depth levels below the top) to out, each folder after its own members.
// The tree is read whole or not at all. A folder below the top that its parent's listing just named but that
// answers 404 itself (as a link loop does at the server's limit) and a tree deeper than kMaxTreeDepth both
// refuse the deletion; other failures pass out as they are.
void walk(const Lookup& lookup, const std::string& folder, int depth, std::vector<DavEntry>& out) {
  std::vector<DavEntry> kids;
  try {
    kids = lookup.children(folder);
  } catch (const DavError& e) {
    if (!is(e, DavError::Kind::notFound)) throw;
    if (depth == 0) return;  // the top itself is gone: nothing below it
    throw deletionRejected();
  }
  if (!kids.empty() && depth == kMaxTreeDepth) throw deletionRejected();
  for (auto& kid : kids) {
    if (kid.isDir) walk(lookup, kid.path, depth + 1, out);
    out.push_back(std::move(kid));
  }
}

// True when the folder's listing shows something that is not among what the deletion deleted (by path and
// version): a member created, or created again, since the tree was listed. Throws DavError::notFound when the
// folder is gone.
bool holdsOthers(const Lookup& lookup, const std::string& folder,
                 const platform::CanonicalMap<std::string>& deleted) {
  for (const auto& child : lookup.children(folder)) {
    auto gone = deleted.find(child.path);
    if (gone == deleted.end() || !sameVersion(gone->second, child.version())) return true;
  }
  return false;
}

}  // namespace

void Deletion::remove(const platform::ItemIdentifier& identifier, const std::string& baseContentVersion,
                      bool recursive) {
  auto path = state_.path(identifier);
  if (!path) return;  // never handed out, or already forgotten: nothing of it to delete
  // The root is the drive itself; deleting it would empty the whole published tree.
  if (*path == "/") throw deletionRejected();

  DavEntry top;
  try {
    top = lookup_.entry(*path);
  } catch (const DavError& e) {
    if (is(e, DavError::Kind::notFound)) {
      state_.forget(*path);  // already gone from the server
      return;
    }
    if (is(e, DavError::Kind::forbidden)) throw deletionRejected();
    throw;
  }
  try {
    deleteTree(top, baseContentVersion, recursive);
  } catch (const DavError& e) {
    if (is(e, DavError::Kind::forbidden)) throw deletionRejected();
    throw;
  }
  state_.forget(*path);
}

void Deletion::deleteTree(const DavEntry& top, const std::string& baseContentVersion, bool recursive) {
  std::vector<DavEntry> doomed;  // every member before its folder, the top entry last
  if (!top.isDir) {
    // The server's entity tag may have turned from weak to strong since the platform read it.
    if (baseContentVersion != platform::kBeforeFirstSyncComponent &&
        !sameVersion(baseContentVersion, top.version())) {
      throw deletionRejected();
    }
  } else {
    walk(lookup_, top.path, 0, doomed);
    if (!doomed.empty() && !recursive) throw directoryNotEmpty();
    checkUnchanged(doomed, state_.knownFolders());
  }
  doomed.push_back(top);

  platform::CanonicalSet kept;                  // folders that stay because something inside them stays
  platform::CanonicalMap<std::string> deleted;  // what this deletion deleted: path to version
  bool failed = false;
  for (size_t i = 0; i < doomed.size(); ++i) {
    const DavEntry& member = doomed[i];
    const bool isTop = i + 1 == doomed.size();
    // The platform has had its answer already when it cancelled; what is deleted so far stays deleted.
    platform::checkCancellation();
    if (kept.contains(member.path)) {
      if (!isTop) kept.insert(platform::parentPath(member.path));
      continue;
    }
    bool stays = false;  // kept on the server, and with it every folder above
    try {
      // A folder's DELETE takes whatever it holds by then: it goes out only when nothing new is in it.
      stays = member.isDir && holdsOthers(lookup_, member.path, deleted);
      if (!stays) {
        dav_.send("DELETE", member.path, {}, std::nullopt,
                  member.isDir ? Target::collection : Target::resource);
        deleted.emplace(member.path, member.version());
      }
    } catch (const MultiStatusFailure&) {
      // The server deleted some of the folder and kept the rest.
      stays = true;
    } catch (const DavError& e) {
      if (is(e, DavError::Kind::unreachable)) throw;
      if (is(e, DavError::Kind::notFound)) continue;  // gone already, which is what was asked
      if (isTop) throw;
      stays = true;
    } catch (...) {
      if (platform::cancelled()) throw platform::Cancelled();
      if (isTop) throw;
      stays = true;
    }
    if (!stays) continue;
    if (isTop) throw directoryNotEmpty();
    failed = true;
    kept.insert(platform::parentPath(member.path));
  }
  if (failed) throw directoryNotEmpty();
}

}  // namespace davfp
