// PlatformClient: the platform's side of the file provider contract, as a blocking client. Each request is
// made of the extension exactly as the operating system makes it, with a completion handler or an observer,
// and each blocking call waits for its single outcome and throws the platform::Error the extension delivered.
// A breach of the contract is reported rather than waited on: a completion with neither a result nor an error
// fails with brokenContract(), later completions are counted (Pending::completions), and an enumeration
// records what came after its finish (Enumeration::Record).
//
// Cancellation: the stop token given at construction, asked to stop from any thread, cancels the request
// being waited for through its progress (its wait ends with the outcome that brings), or ends an enumeration
// wait with the user-cancelled error. A token that has stopped cancels every later wait at once.
//
// Thread-safe: any number of calls may run at once; attach() only while none runs. The extension calls back
// on its own threads.
#pragma once

#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "client/enumeration.h"
#include "client/pending.h"
#include "platform/file_provider.h"

namespace davfp::client {

class PlatformClient {
 public:
  using Change = Enumeration::Change;
  struct Changes {
    std::vector<Change> changes;  // updates and deletions in the order the observer received them
    platform::SyncAnchor anchor;
    bool moreComing = false;
  };
  struct Fetched {
    std::string file;  // a local file that now belongs to the caller
    platform::ItemRef item;
  };
  // What a creation or modification answered.
  struct Written {
    platform::ItemRef item;
    platform::ItemFields pendingFields = 0;
    bool shouldFetchContent = false;
  };

  explicit PlatformClient(std::shared_ptr<platform::ReplicatedExtension> extension,
                          std::stop_token cancel = {});

  // The extension that requests go to from now on; none while there must be no requests.
  void attach(std::shared_ptr<platform::ReplicatedExtension> extension);
  // A client of the same extension whose requests the given token cancels (one caller's request among many).
  PlatformClient cancelledBy(std::stop_token cancel) const {
    return PlatformClient(extension_, std::move(cancel));
  }

  platform::ItemRef item(const platform::ItemIdentifier& identifier);
  // Every item of the container: all didEnumerateItems calls, across as many pages as the enumerator gives.
  std::vector<platform::ItemRef> enumerate(const platform::ItemIdentifier& container);
  Changes changes(const platform::ItemIdentifier& container, const platform::SyncAnchor& from);
  // The container's current sync anchor; empty when the enumerator has none.
  platform::SyncAnchor currentAnchor(const platform::ItemIdentifier& container);
  Fetched fetch(const platform::ItemIdentifier& identifier, std::optional<platform::ItemVersion> version);
  Written create(platform::ItemRef itemTemplate, platform::ItemFields fields,
                 std::optional<std::string> contents);
  Written modify(platform::ItemRef item, platform::ItemVersion baseVersion,
                 platform::ItemFields changedFields, std::optional<std::string> contents);
  void remove(const platform::ItemIdentifier& identifier, platform::ItemVersion baseVersion, bool recursive);

  // The same requests started at once, to be waited for later (Pending::wait); any number may run at once.
  Pending<platform::ItemRef> startItem(const platform::ItemIdentifier& identifier);
  Pending<Fetched> startFetch(const platform::ItemIdentifier& identifier,
                              std::optional<platform::ItemVersion> version);
  Pending<Written> startCreate(platform::ItemRef itemTemplate, platform::ItemFields fields,
                               std::optional<std::string> contents);
  Pending<Written> startModify(platform::ItemRef item, platform::ItemVersion baseVersion,
                               platform::ItemFields changedFields, std::optional<std::string> contents);
  Pending<void> startRemove(const platform::ItemIdentifier& identifier, platform::ItemVersion baseVersion,
                            bool recursive);

 private:
  std::shared_ptr<platform::ReplicatedExtension> extension_;
  const std::stop_token cancel_;
};

}  // namespace davfp::client
