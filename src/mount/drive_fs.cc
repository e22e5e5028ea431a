#include "mount/drive_fs.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "mount/fs_error.h"

namespace davfp::mount {

// One transfer that several requests wait for: the first runs it, the others wait for its outcome.
struct DriveFs::Transfer {
  platform::Mutex mu;
  platform::CondVar done;
  bool finished GUARDED_BY(mu) = false;
  int err GUARDED_BY(mu) = 0;

  void finish(int e) {
    platform::MutexLock lock(mu);
    finished = true;
    err = e;
    done.notifyAll();
  }
  int wait() {
    platform::MutexLock lock(mu);
    while (!finished) done.wait(mu);
    return err;
  }
};

template <class Work>
void DriveFs::once(std::map<Ino, std::shared_ptr<Transfer>>& running, Ino key, Work work) {
  std::shared_ptr<Transfer> fetch;
  bool mine = false;
  {
    platform::MutexLock lock(mu_);
    auto& slot = running[key];
    if (!slot) {
      slot = std::make_shared<Transfer>();
      mine = true;
    }
    fetch = slot;
  }
  if (!mine) {
    if (int err = fetch->wait()) throw FsError(err);
    return;
  }
  int err = 0;
  try {
    work();
  } catch (const FsError& e) {
    err = e.err();
  } catch (const platform::Error& e) {
    err = errnoOf(e);
  } catch (const std::exception&) {
    err = EIO;
  }
  {
    platform::MutexLock lock(mu_);
    running.erase(key);
  }
  fetch->finish(err);
  if (err) throw FsError(err);
}

DriveFs::DriveFs(client::PlatformClient& platform, Journal& journal, const Replica& replica, Notify notify,
                 std::function<void(const std::string&)> log)
    : platform_(platform),
      journal_(journal),
      replica_(replica),
      notify_(std::move(notify)),
      log_(std::move(log)) {}

Node DriveFs::attributes(Ino ino) {
  auto node = journal_.node(ino);
  if (!node) throw FsError(ENOENT);
  return *node;
}

Node DriveFs::folder(Ino ino) {
  Node node = attributes(ino);
  if (!node.folder) throw FsError(ENOTDIR);
  if (!node.listed) {
    list(node);
    node = attributes(ino);
  }
  return node;
}

Node DriveFs::lookup(Ino parent, const std::string& name) {
  folder(parent);
  auto child = journal_.child(parent, name);
  if (!child) throw FsError(ENOENT);
  return *child;
}

std::vector<Node> DriveFs::children(Ino ino) {
  folder(ino);
  return journal_.children(ino);
}

void DriveFs::list(const Node& node) {
  once(listing_, node.ino, [&] {
    try {
      apply(journal_.applyListing(node.ino, platform_.enumerate(node.identifier)));
    } catch (const platform::Error& e) {
      log_("listing " + node.name + " failed: " + e.what());
      throw;
    }
  });
}

int DriveFs::openForReading(Ino ino) {
  for (int attempt = 0; attempt < 3; ++attempt) {
    Node node = attributes(ino);
    if (node.folder) throw FsError(EISDIR);
    if (node.materialised) {
      int fd = ::open(replica_.contents(ino).c_str(), O_RDONLY | O_CLOEXEC);
      if (fd >= 0) return fd;
      if (errno != ENOENT) throw FsError(errno);
    }
    materialise(node);
  }
  throw FsError(EIO);
}

void DriveFs::materialise(const Node& node) {
  once(fetching_, node.ino, [&] {
    log_("fetching " + node.name);
    client::PlatformClient::Fetched fetched;
    try {
      fetched = platform_.fetch(node.identifier, std::nullopt);
    } catch (const platform::Error& e) {
      log_("fetching " + node.name + " failed: " + e.what());
      throw;
    }
    if (std::rename(fetched.file.c_str(), replica_.contents(node.ino).c_str()) != 0) {
      int err = errno;
      std::remove(fetched.file.c_str());
      throw FsError(err);
    }
    journal_.setMaterialised(node.ino, *fetched.item);
    log_("fetched " + node.name + " (" + std::to_string(fetched.item->documentSize().value_or(0)) +
         " bytes)");
    if (fetched.item->documentSize().value_or(0) != node.size) {
      Journal::Effects effects;
      effects.changed.push_back(node.ino);
      notify_(effects);
    }
  });
}

void DriveFs::changePass() {
  auto changes = platform_.changes(platform::kWorkingSetContainerItemIdentifier, journal_.anchor());
  std::vector<platform::ItemRef> updated;
  std::vector<platform::ItemIdentifier> deleted;
  for (auto& change : changes.changes) {
    if (change.updated)
      updated.push_back(std::move(change.updated));
    else if (change.deleted)
      deleted.push_back(std::move(*change.deleted));
  }
  apply(journal_.applyChanges(updated, deleted, changes.anchor));
}

void DriveFs::apply(const Journal::Effects& effects) {
  for (Ino ino : effects.stale) std::remove(replica_.contents(ino).c_str());
  if (!effects.changed.empty() || !effects.names.empty()) notify_(effects);
}

}  // namespace davfp::mount
