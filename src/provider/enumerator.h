// Enumerator: the platform's enumerator of one container (a folder, the working set or the trash).
//
// Item enumerations and change enumerations run as jobs and report to the observer from job threads; every
// enumeration ends with exactly one finish call, also when something unexpected escapes. The trash, the
// placeholder domain and the current sync anchor are answered at once on the calling thread. Holds the
// domain's client, state and lookup (which guard themselves) and nothing else, so the platform may use one
// enumerator any number of times, from any thread.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "dav/dav.h"
#include "platform/file_provider.h"
#include "provider/lookup.h"
#include "state/state.h"

namespace davfp {

// The domain whose item enumerations are always empty.
inline constexpr std::string_view kPlaceholderDomain = "velnor-placeholder";

class Enumerator final : public platform::Enumerator, public std::enable_shared_from_this<Enumerator> {
 public:
  // domain is the identifier of the domain whose container this is.
  Enumerator(platform::ItemIdentifier container, std::string domain, std::shared_ptr<Dav> dav,
             std::shared_ptr<State> state, std::shared_ptr<const Lookup> lookup);

  void invalidate() override {}
  void enumerateItems(std::shared_ptr<platform::EnumerationObserver> observer, platform::Page startingAt) override;
  void enumerateChanges(std::shared_ptr<platform::ChangeObserver> observer, platform::SyncAnchor from) override;
  void currentSyncAnchor(std::function<void(std::optional<platform::SyncAnchor>)> completion) override;

  const platform::ItemIdentifier& container() const { return container_; }

 private:
  void enumerateWorkingSet(platform::EnumerationObserver& observer);
  void enumerateFolder(platform::EnumerationObserver& observer);

  const platform::ItemIdentifier container_;
  const std::string domain_;
  const std::shared_ptr<Dav> dav_;
  const std::shared_ptr<State> state_;
  const std::shared_ptr<const Lookup> lookup_;
};

}  // namespace davfp
