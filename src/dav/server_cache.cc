#include "dav/server_cache.h"

namespace davfp {

std::string ServerCache::get(const std::optional<std::string>& stale, Resolve resolve) {
  platform::Task<std::string> task;
  {
    platform::MutexLock lock(shared_->mu);
    if (shared_->url && (!stale || *shared_->url != *stale)) return *shared_->url;
    shared_->url.reset();
    if (shared_->pending) {
      task = *shared_->pending;
    } else {
      // The task takes mu before it touches the fields, so it cannot finish before pending is set here.
      task = platform::spawnTask([shared = shared_, resolve = std::move(resolve)] {
        try {
          std::string url = resolve();
          platform::MutexLock inner(shared->mu);
          shared->url = url;
          shared->pending.reset();
          return url;
        } catch (...) {
          platform::MutexLock inner(shared->mu);
          shared->pending.reset();
          throw;
        }
      });
      shared_->pending = task;
    }
  }
  return task.get();
}

}  // namespace davfp
