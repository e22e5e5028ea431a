// State: the memory of one domain. Which item identifiers were handed to the platform and which server path
// each stands for, what the listed folders contained (their snapshots), and the change counter that serves
// as the sync anchor. Kept in one JSON file per domain, rewritten whole and atomically after every change.
// In memory each map keeps its text in one buffer (TextMap): a domain of many thousand items is a few large
// allocations, and a save walks them in order.
//
// Thread-safety: one State is shared by all jobs of its domain. Every operation makes its change under mu_,
// so no operation sees another half done, and returns once its change is on the disk; an operation that
// hands out an identifier that another one minted returns once that identifier is on the disk. Saves run one
// at a time outside mu_, each writing the whole state as it is when it begins, so they reach the disk in the
// order of the changes they carry, and the operations that change the state while one is written share the
// next (a group commit: many concurrent write-back requests cost a few saves, not one each). anchor() and
// setAnchor() take no lock.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/env.h"
#include "platform/mutex.h"
#include "platform/text.h"
#include "state/folder_snapshot.h"
#include "state/state_file.h"
#include "state/text_map.h"

namespace davfp {

class State {
 public:
  using Snapshot = platform::CanonicalMap<std::string>;  // child path -> version
  using Snapshots = platform::CanonicalMap<Snapshot>;    // folder path -> snapshot

  // The state of the domain as its file holds it; a fresh state (no identifiers, no folders, anchor 1)
  // when there is no file or it is unusable. Never fails and never writes the file.
  explicit State(std::string_view domain, platform::Env& env = platform::Env::standard());
  State(const State&) = delete;
  State& operator=(const State&) = delete;

  // The identifier of the item at path, minted and saved the first time the path is asked for. "/" is the
  // root container, whose identifier is fixed and never stored; any other string counts as a path.
  std::string id(std::string_view path);
  // The identifier of the item at path when one was handed out; never mints one.
  std::optional<std::string> existingId(std::string_view path) const;
  // The path of the item; none for identifiers never handed out, forgotten, or made up by the platform.
  std::optional<std::string> path(std::string_view id);
  // The item at from now lies at to: from and every path under it are rewritten to lie under to, keeping
  // their identifiers; snapshots of the folders among them move along. Moving into another folder drops
  // the item from its old folder's snapshot (it is no longer a child there); a rename within one folder
  // keeps its entry under the new path. The new folder's snapshot is left to noteChild. Advances the anchor.
  // The identifier is not needed: everything is found by path.
  void move(std::string_view id, std::string_view from, std::string_view to);
  // Drops the identifiers of path and of everything under it, the snapshots of the folders among them, and
  // path's own entry in the other snapshots. Advances the anchor.
  void forget(std::string_view path);
  // Records the folder's snapshot from a listing, replacing the earlier one. An empty snapshot still makes
  // the folder known.
  void remember(std::string_view folder, FolderSnapshot children);
  // Records a child that the extension itself has just written, with its version, in its folder's snapshot,
  // when that folder is known. Advances the anchor either way.
  void noteChild(std::string_view path, std::string_view version);
  // noteChild of an item the extension has just created, and its identifier, minted when the path has none,
  // in the same save.
  std::string noteCreated(std::string_view path, std::string_view version);
  // A copy of every known folder's snapshot.
  Snapshots knownFolders() const;

  // The change counter. It never overflows: at INT64_MAX it stays there.
  int64_t anchor() const;
  void setAnchor(int64_t value);
  // Advances the anchor and saves.
  void bumpAnchor();

  // Batch forms: the same effects as the single operations, under one lock and with at most one save, so
  // that the number of writes does not grow with the work.
  // id(path) of each path, in order; saves once if any identifier was minted.
  std::vector<std::string> ids(const std::vector<std::string>& paths);
  struct Step {
    enum class Kind { forget, remember } kind;
    std::string path;         // the path to forget, or the folder to remember
    FolderSnapshot children;  // remember only
  };
  struct Batch {
    std::vector<Step> steps;
    bool bump = false;  // advance the anchor once more after the steps
    // Paths whose identifiers are minted after the steps, as id(path) would; views of text that outlives the
    // commit (a listing's paths need no second copy).
    std::vector<std::string_view> mint;
  };
  // Applies the steps in order (each forget advances the anchor; each snapshot is taken over, not copied),
  // mints, then bumps; saves once, and not at all when nothing changed (no forget, no bump, no new
  // identifier, every remembered snapshot as it was). Returns id(path) of each path in mint, in order.
  std::vector<std::string> commit(Batch batch);

  // Where the state file is.
  const std::string& file() const { return file_; }
  // The file beside the domain's state file ("state-DOMAIN.lock") that the platform's side locks for as long
  // as a process uses the domain, from before its State is loaded: one State per domain at a time. The state
  // itself never takes it. Creates the directory, as the State does.
  static std::string lockFile(std::string_view domain, platform::Env& env = platform::Env::standard());

 private:
  std::string idLocked(std::string_view path, bool& minted) REQUIRES(mu_);
  // noteChild's change, to be saved: the change's number.
  uint64_t noteChildLocked(std::string_view path, std::string_view version) REQUIRES(mu_);
  // The position in ids_ of the identifier that idLocked() gives.
  size_t idPositionLocked(std::string_view path, bool& minted) REQUIRES(mu_);
  void moveLocked(std::string_view id, std::string_view from, std::string_view to) REQUIRES(mu_);
  void forgetLocked(std::string_view path) REQUIRES(mu_);
  // True when the snapshot differs from the one held (or the folder was not known).
  bool rememberLocked(std::string_view folder, FolderSnapshot children) REQUIRES(mu_);
  void advanceAnchor() REQUIRES(mu_);
  // Makes room for the identifiers that id(path) of each path would mint.
  template <class Paths>
  void reserveIds(const Paths& paths) REQUIRES(mu_);
  // Returns once the file holds at least the first seen changes, writing it when no save that began after
  // them has; a failed write is dropped (see state.cc).
  void persist(uint64_t seen) const EXCLUDES(mu_, saveMu_);
  // The change that must be saved before id is handed out (0: none).
  uint64_t savingOf(const std::string& id) const REQUIRES(mu_);
  bool anyUnsavedId() const REQUIRES(mu_);

  void load() REQUIRES(mu_);

  platform::Env& env_;
  const std::string file_;
  mutable platform::Mutex saveMu_ ACQUIRED_BEFORE(mu_);  // held while the file is written
  mutable platform::Mutex mu_;
  // identifier -> path, each held once; a path finds the identifier last given it.
  TextMap ids_ GUARDED_BY(mu_){TextMap::Values::indexed};
  StateData::Snapshots listed_ GUARDED_BY(mu_);      // folder -> (child -> version)
  mutable size_t lastSaveSize_ GUARDED_BY(mu_) = 0;  // bytes of the latest encoding
  uint64_t changes_ GUARDED_BY(mu_) = 0;             // changes made since the state was loaded
  mutable uint64_t saved_ GUARDED_BY(mu_) = 0;       // of them, those that a save has carried
  // Identifiers that id() minted and no save has carried yet, with the change that minted each.
  mutable std::unordered_map<std::string, uint64_t> unsavedIds_ GUARDED_BY(mu_);
  uint64_t batchMinted_ GUARDED_BY(mu_) = 0;  // the latest change of a batch that minted identifiers
  // Changed under mu_, except by setAnchor(); read without it.
  std::atomic<int64_t> anchor_{1};
};

}  // namespace davfp
