// Enumerator: the platform's enumerator of one container (a folder, the working set or the trash).
//
// Item enumerations and change enumerations run as jobs and report to the observer from job threads; every
// enumeration ends with exactly one finish call, also when something unexpected escapes. The trash, the
// placeholder domain and the current sync anchor are answered at once on the calling thread. Holds the
// extension; otherwise stateless, so the platform may use one enumerator any number of times, from any thread.
#pragma once

#include <memory>
#include <vector>

#include "platform/file_provider.h"

namespace davfp {

class FileProviderExtension;

class Enumerator final : public platform::Enumerator, public std::enable_shared_from_this<Enumerator> {
 public:
  Enumerator(std::shared_ptr<FileProviderExtension> ext, platform::ItemIdentifier container)
      : ext_(std::move(ext)), container_(std::move(container)) {}

  void invalidate() override {}
  void enumerateItems(std::shared_ptr<platform::EnumerationObserver> observer, platform::Page startingAt) override;
  void enumerateChanges(std::shared_ptr<platform::ChangeObserver> observer, platform::SyncAnchor from) override;
  void currentSyncAnchor(std::function<void(std::optional<platform::SyncAnchor>)> completion) override;

  const platform::ItemIdentifier& container() const { return container_; }

 private:
  void enumerateWorkingSet(platform::EnumerationObserver& observer);
  void enumerateFolder(platform::EnumerationObserver& observer);
  struct Changes {
    std::vector<platform::ItemRef> updated;
    std::vector<platform::ItemIdentifier> deleted;
  };
  // One pass over the remembered folders, committed to the state; throws when any listing fails.
  Changes findChanges();

  const std::shared_ptr<FileProviderExtension> ext_;
  const platform::ItemIdentifier container_;
};

}  // namespace davfp
