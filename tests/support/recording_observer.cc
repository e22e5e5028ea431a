#include "support/recording_observer.h"

#include <gtest/gtest.h>

namespace davfp::testing {

std::shared_ptr<RecordingObserver> RecordingObserver::make() {
  return std::shared_ptr<RecordingObserver>(new RecordingObserver);
}

std::shared_ptr<RecordingObserver> RecordingObserver::handle() {
  {
    std::lock_guard guard(mu_);
    if (handed_) ADD_FAILURE() << "one RecordingObserver serves one enumeration";
    handed_ = true;
  }
  // Shares the observer's life, but runs released() when the enumeration lets go of its last copy.
  auto self = shared_from_this();
  return std::shared_ptr<RecordingObserver>(self.get(), [self](RecordingObserver*) { self->released(); });
}

void RecordingObserver::released() {
  std::lock_guard guard(mu_);
  released_ = true;
  cv_.notify_all();
}

bool RecordingObserver::wait(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mu_);
  if (!cv_.wait_for(lock, timeout, [this] { return released_; })) {
    ADD_FAILURE() << "the enumeration still holds its observer";
    return false;
  }
  EXPECT_EQ(finishes_, 1) << "finish calls of one enumeration";
  return true;
}

std::unique_lock<std::mutex> RecordingObserver::record(const char* call) {
  std::unique_lock lock(mu_);
  if (finishes_ > 0) ADD_FAILURE() << call << " after the enumeration finished";
  calls_.emplace_back(call);
  return lock;
}

void RecordingObserver::finishedLocked() {
  ++finishes_;
  finishThread_ = std::this_thread::get_id();
}

void RecordingObserver::didEnumerateItems(std::vector<platform::ItemRef> items) {
  auto lock = record("items");
  items_.insert(items_.end(), items.begin(), items.end());
}

void RecordingObserver::finishEnumeratingUpToPage(std::optional<platform::Page> nextPage) {
  auto lock = record("finishPage");
  nextPage_ = std::move(nextPage);
  finishedLocked();
}

void RecordingObserver::finishEnumeratingWithError(const platform::Error& error) {
  auto lock = record("error");
  error_ = error;
  finishedLocked();
}

void RecordingObserver::didUpdateItems(std::vector<platform::ItemRef> items) {
  auto lock = record("updated");
  updated_.insert(updated_.end(), items.begin(), items.end());
}

void RecordingObserver::didDeleteItemsWithIdentifiers(std::vector<platform::ItemIdentifier> identifiers) {
  auto lock = record("deleted");
  deleted_.insert(deleted_.end(), identifiers.begin(), identifiers.end());
}

void RecordingObserver::finishEnumeratingChangesUpToSyncAnchor(platform::SyncAnchor anchor, bool moreComing) {
  auto lock = record("finishChanges");
  anchor_ = std::move(anchor);
  moreComing_ = moreComing;
  finishedLocked();
}

std::vector<std::string> RecordingObserver::calls() const { return locked(calls_); }
std::vector<platform::ItemRef> RecordingObserver::items() const { return locked(items_); }
std::vector<platform::ItemRef> RecordingObserver::updated() const { return locked(updated_); }
std::vector<platform::ItemIdentifier> RecordingObserver::deleted() const { return locked(deleted_); }
std::optional<platform::Error> RecordingObserver::error() const { return locked(error_); }
std::optional<platform::SyncAnchor> RecordingObserver::anchor() const { return locked(anchor_); }
std::optional<platform::Page> RecordingObserver::nextPage() const { return locked(nextPage_); }
bool RecordingObserver::moreComing() const { return locked(moreComing_); }
std::thread::id RecordingObserver::finishThread() const { return locked(finishThread_); }

}  // namespace davfp::testing
