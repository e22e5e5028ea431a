#include "platform/progress.h"

namespace davfp::platform {

void Progress::cancel() {
  std::function<void()> handler;
  {
    MutexLock lock(mu_);
    if (cancelled_.exchange(true)) return;
    handler = std::move(handler_);
    handler_ = nullptr;
  }
  if (handler) handler();
}

void Progress::setCancellationHandler(std::function<void()> handler) {
  {
    MutexLock lock(mu_);
    if (!cancelled_.load()) {
      handler_ = std::move(handler);
      return;
    }
  }
  if (handler) handler();
}

}  // namespace davfp::platform
