// Enumeration: the platform's observer of one item or change enumeration. It records every call it receives,
// in order and from whatever thread, and keeps the first finish call as the enumeration's outcome. The
// contract allows exactly one finish and nothing after it; what breaks that is recorded (finishes,
// lateCalls), never taken as the outcome. Thread-safe.
#pragma once

#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "platform/file_provider.h"
#include "platform/mutex.h"
#include "platform/once.h"

namespace davfp::client {

class Enumeration final : public platform::EnumerationObserver, public platform::ChangeObserver {
 public:
  // One change reported by a change enumeration.
  struct Change {
    platform::ItemRef updated;                        // set for an update
    std::optional<platform::ItemIdentifier> deleted;  // set for a deletion
  };

  // What the enumeration received.
  struct Record {
    // The calls by name, in order: "items", "finishPage", "updated", "deleted", "finishChanges", "error".
    std::vector<std::string> calls;
    // What didEnumerateItems gave, and what didUpdateItems and didDeleteItemsWithIdentifiers gave, in order.
    std::vector<platform::ItemRef> items;
    std::vector<Change> changes;
    // What the first finish call gave, and the thread that made it.
    std::optional<platform::Error> error;
    std::optional<platform::Page> nextPage;
    std::optional<platform::SyncAnchor> anchor;
    bool moreComing = false;
    std::thread::id finishThread;
    // Breaches of the contract: every finish call is counted, and the calls that came after the first one.
    int finishes = 0;
    std::vector<std::string> lateCalls;
  };

  // Blocks until the first finish call and returns the record as it stood then; throws the error the
  // enumeration finished with. When cancel asks to stop first, the wait ends with the user-cancelled error:
  // an enumeration has no progress to cancel, so it runs out unobserved. One waiter, once.
  Record wait(std::stop_token cancel = {});
  // Blocks until the first finish call or until timeout has passed, ending nothing; true when it came.
  bool waitFor(std::chrono::milliseconds timeout) const { return finished_.waitFor(timeout); }
  // Everything received so far, late calls included.
  Record record() const;

  // --- EnumerationObserver ---
  void didEnumerateItems(std::vector<platform::ItemRef> items) override;
  void finishEnumeratingUpToPage(std::optional<platform::Page> nextPage) override;
  void finishEnumeratingWithError(const platform::Error& error) override;
  // --- ChangeObserver ---
  void didUpdateItems(std::vector<platform::ItemRef> items) override;
  void didDeleteItemsWithIdentifiers(std::vector<platform::ItemIdentifier> identifiers) override;
  void finishEnumeratingChangesUpToSyncAnchor(platform::SyncAnchor anchor, bool moreComing) override;

 private:
  // Records one call, as a late one when a finish came before.
  void received(const char* call) REQUIRES(mu_);
  // Counts a finish call; true for the first, whose fields the caller then records.
  bool finishedLocked() REQUIRES(mu_);

  mutable platform::Mutex mu_;
  Record record_ GUARDED_BY(mu_);
  // The record as the first finish left it, or the error it gave, or the cancellation of the wait.
  platform::Once<Record> finished_;
};

}  // namespace davfp::client
