// RecordingObserver: an enumeration and change observer for tests that records every call the extension makes
// (a client::Enumeration does) and checks the observer rules: exactly one finish call, and nothing after it.
//
// Hand each enumeration its own handle(): when the enumerator and its job have let go of every copy of the
// handle, nothing can call any more, and wait() returns. So after wait() the record is complete, and a second
// finish or a call after the finish, had there been one, has been found. One RecordingObserver serves one
// enumeration. Calls may come from any thread; the accessors are meant for after wait().
#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "client/enumeration.h"
#include "platform/file_provider.h"

namespace davfp::testing {

class RecordingObserver final : public std::enable_shared_from_this<RecordingObserver> {
 public:
  static std::shared_ptr<RecordingObserver> make();

  // The observer to pass to one enumeration. Its last copy going away marks the enumeration as done.
  std::shared_ptr<client::Enumeration> handle();
  // Blocks until the handle has been released; false when that did not happen within timeout. Adds a test
  // failure unless exactly one finish call came and nothing after it.
  bool wait(std::chrono::milliseconds timeout = std::chrono::seconds(30));

  // The calls by name, in order: "items", "finishPage", "updated", "deleted", "finishChanges", "error".
  std::vector<std::string> calls() const { return enumeration_->record().calls; }
  // What didEnumerateItems, didUpdateItems and didDeleteItemsWithIdentifiers received, in order.
  std::vector<platform::ItemRef> items() const { return enumeration_->record().items; }
  std::vector<platform::ItemRef> updated() const;
  std::vector<platform::ItemIdentifier> deleted() const;
  // What the finish call gave.
  std::optional<platform::Error> error() const { return enumeration_->record().error; }
  std::optional<platform::SyncAnchor> anchor() const { return enumeration_->record().anchor; }
  std::optional<platform::Page> nextPage() const { return enumeration_->record().nextPage; }
  bool moreComing() const { return enumeration_->record().moreComing; }
  // The thread that made the finish call.
  std::thread::id finishThread() const { return enumeration_->record().finishThread; }

 private:
  RecordingObserver() = default;
  void released();

  const std::shared_ptr<client::Enumeration> enumeration_ = std::make_shared<client::Enumeration>();
  std::mutex mu_;
  std::condition_variable cv_;
  bool handed_ = false;    // guarded by mu_
  bool released_ = false;  // guarded by mu_
};

}  // namespace davfp::testing
