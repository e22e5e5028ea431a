#include "support/recording_observer.h"

#include <gtest/gtest.h>

namespace davfp::testing {

std::shared_ptr<RecordingObserver> RecordingObserver::make() {
  return std::shared_ptr<RecordingObserver>(new RecordingObserver);
}

std::shared_ptr<client::Enumeration> RecordingObserver::handle() {
  {
    std::lock_guard guard(mu_);
    if (handed_) ADD_FAILURE() << "one RecordingObserver serves one enumeration";
    handed_ = true;
  }
  // Shares the record's life, but runs released() when the enumeration lets go of its last copy.
  return std::shared_ptr<client::Enumeration>(
      enumeration_.get(), [self = shared_from_this()](client::Enumeration*) { self->released(); });
}

void RecordingObserver::released() {
  std::lock_guard guard(mu_);
  released_ = true;
  cv_.notify_all();
}

bool RecordingObserver::wait(std::chrono::milliseconds timeout) {
  {
    std::unique_lock lock(mu_);
    if (!cv_.wait_for(lock, timeout, [this] { return released_; })) {
      ADD_FAILURE() << "the enumeration still holds its observer";
      return false;
    }
  }
  auto record = enumeration_->record();
  EXPECT_EQ(record.finishes, 1) << "finish calls of one enumeration";
  for (const auto& call : record.lateCalls) ADD_FAILURE() << call << " after the enumeration finished";
  return true;
}

std::vector<platform::ItemRef> RecordingObserver::updated() const {
  std::vector<platform::ItemRef> out;
  for (const auto& change : enumeration_->record().changes) {
    if (change.updated) out.push_back(change.updated);
  }
  return out;
}

std::vector<platform::ItemIdentifier> RecordingObserver::deleted() const {
  std::vector<platform::ItemIdentifier> out;
  for (const auto& change : enumeration_->record().changes) {
    if (change.deleted) out.push_back(*change.deleted);
  }
  return out;
}

}  // namespace davfp::testing
