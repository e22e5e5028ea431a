// RecordingObserver: an enumeration and change observer for tests that records every call the extension makes
// and checks the observer rules as the calls arrive: exactly one finish call, and nothing after it.
//
// Hand each enumeration its own handle(): when the enumerator and its job have let go of every copy of the
// handle, nothing can call any more, and wait() returns. So after wait() the record is complete and a second
// finish, had there been one, has already been counted. One RecordingObserver serves one enumeration.
// Calls may come from any thread; the accessors lock, and are meant for after wait().
#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/file_provider.h"

namespace davfp::testing {

class RecordingObserver final : public platform::EnumerationObserver,
                                public platform::ChangeObserver,
                                public std::enable_shared_from_this<RecordingObserver> {
 public:
  static std::shared_ptr<RecordingObserver> make();

  // The observer to pass to one enumeration. Its last copy going away marks the enumeration as done.
  std::shared_ptr<RecordingObserver> handle();
  // Blocks until the handle has been released; false when that did not happen within timeout. Adds a test
  // failure unless exactly one finish call came.
  bool wait(std::chrono::milliseconds timeout = std::chrono::seconds(30));

  // The calls by name, in order: "items", "finishPage", "updated", "deleted", "finishChanges", "error".
  std::vector<std::string> calls() const;
  // What didEnumerateItems, didUpdateItems and didDeleteItemsWithIdentifiers received, in order.
  std::vector<platform::ItemRef> items() const;
  std::vector<platform::ItemRef> updated() const;
  std::vector<platform::ItemIdentifier> deleted() const;
  // What the finish call gave.
  std::optional<platform::Error> error() const;
  std::optional<platform::SyncAnchor> anchor() const;
  std::optional<platform::Page> nextPage() const;
  bool moreComing() const;
  // The thread that made the finish call.
  std::thread::id finishThread() const;

  // --- EnumerationObserver ---
  void didEnumerateItems(std::vector<platform::ItemRef> items) override;
  void finishEnumeratingUpToPage(std::optional<platform::Page> nextPage) override;
  void finishEnumeratingWithError(const platform::Error& error) override;
  // --- ChangeObserver ---
  void didUpdateItems(std::vector<platform::ItemRef> items) override;
  void didDeleteItemsWithIdentifiers(std::vector<platform::ItemIdentifier> identifiers) override;
  void finishEnumeratingChangesUpToSyncAnchor(platform::SyncAnchor anchor, bool moreComing) override;

 private:
  RecordingObserver() = default;
  // Records one call; a failure when it comes after the finish. Returns with mu_ held.
  std::unique_lock<std::mutex> record(const char* call);
  void finishedLocked();  // REQUIRES: mu_ held
  void released();
  // A copy of one of the fields below, taken under mu_.
  template <class T>
  T locked(const T& field) const {
    std::lock_guard guard(mu_);
    return field;
  }

  mutable std::mutex mu_;
  std::condition_variable cv_;
  std::vector<std::string> calls_;                 // guarded by mu_
  std::vector<platform::ItemRef> items_;           // guarded by mu_
  std::vector<platform::ItemRef> updated_;         // guarded by mu_
  std::vector<platform::ItemIdentifier> deleted_;  // guarded by mu_
  std::optional<platform::Error> error_;           // guarded by mu_
  std::optional<platform::SyncAnchor> anchor_;     // guarded by mu_
  std::optional<platform::Page> nextPage_;         // guarded by mu_
  bool moreComing_ = false;                        // guarded by mu_
  int finishes_ = 0;                               // guarded by mu_
  std::thread::id finishThread_;                   // guarded by mu_
  bool handed_ = false;                            // guarded by mu_
  bool released_ = false;                          // guarded by mu_
};

}  // namespace davfp::testing
