// Progress of one platform request: unit counts, and cancellation with a handler.
// Thread-safe. Like the platform's progress object, a handler installed after cancellation runs at once.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "platform/mutex.h"

namespace davfp::platform {

class Progress {
 public:
  explicit Progress(int64_t totalUnitCount) : total_(totalUnitCount) {}
  static std::shared_ptr<Progress> make(int64_t totalUnitCount) {
    return std::make_shared<Progress>(totalUnitCount);
  }

  int64_t totalUnitCount() const { return total_.load(); }
  void setTotalUnitCount(int64_t n) { total_.store(n); }
  int64_t completedUnitCount() const { return completed_.load(); }
  void setCompletedUnitCount(int64_t n) { completed_.store(n); }

  bool isCancelled() const { return cancelled_.load(); }

  // Marks the progress cancelled and runs the cancellation handler once, on the calling thread.
  void cancel();

  // Installs the handler run on cancellation; runs it at once when the progress is already cancelled.
  void setCancellationHandler(std::function<void()> handler);

 private:
  std::atomic<int64_t> total_;
  std::atomic<int64_t> completed_{0};
  std::atomic<bool> cancelled_{false};
  Mutex mu_;
  std::function<void()> handler_ GUARDED_BY(mu_);  // taken out (and so run at most once) on cancellation
};

}  // namespace davfp::platform
