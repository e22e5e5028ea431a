// Platform: the program's side of the file provider contract. Each method makes one request of the extension
// (or runs one enumeration) exactly as the operating system would, with a completion handler or an observer,
// and blocks the calling thread until the single outcome arrives. Failures are thrown as the platform::Error
// the engine delivered. While a method waits, an interruption (Ctrl-C) cancels the request through its
// progress, or ends an enumeration wait with the user-cancelled error.
// Use from one thread (the program's main thread); the engine calls back on its own threads.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/interrupt.h"
#include "platform/file_provider.h"

namespace davfp::cli {

class Platform {
 public:
  Platform(std::shared_ptr<platform::ReplicatedExtension> extension, Interrupt& interrupt);

  // The extension that requests go to from now on (the engine started again on the drive's state); none
  // while the program has let the drive go, when there must be no requests.
  void attach(std::shared_ptr<platform::ReplicatedExtension> extension);

  platform::ItemRef item(const platform::ItemIdentifier& identifier);
  // Every item of the container, across as many didEnumerateItems calls as the enumerator makes.
  std::vector<platform::ItemRef> enumerate(const platform::ItemIdentifier& container);

  // One change reported by a change enumeration, in the order the observer received it.
  struct Change {
    platform::ItemRef updated;                        // set for an update
    std::optional<platform::ItemIdentifier> deleted;  // set for a deletion
  };
  struct Changes {
    std::vector<Change> changes;
    platform::SyncAnchor anchor;
  };
  Changes changes(const platform::ItemIdentifier& container, const platform::SyncAnchor& from);
  platform::SyncAnchor currentAnchor(const platform::ItemIdentifier& container);

  struct Fetched {
    std::string file;  // a local file that now belongs to the caller
    platform::ItemRef item;
  };
  Fetched fetch(const platform::ItemIdentifier& identifier, std::optional<platform::ItemVersion> version);

  platform::ItemRef create(platform::ItemRef itemTemplate, platform::ItemFields fields,
                           std::optional<std::string> contents);

  struct Modified {
    platform::ItemRef item;
    platform::ItemFields pendingFields;
  };
  Modified modify(platform::ItemRef item, platform::ItemVersion baseVersion,
                  platform::ItemFields changedFields, std::optional<std::string> contents);

  void remove(const platform::ItemIdentifier& identifier, platform::ItemVersion baseVersion, bool recursive);

 private:
  std::shared_ptr<platform::ReplicatedExtension> extension_;
  Interrupt& interrupt_;
};

// The error a cancelled wait ends with: the platform's user-cancelled error.
platform::Error cancelledError();

}  // namespace davfp::cli
