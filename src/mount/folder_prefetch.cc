#include "mount/folder_prefetch.h"

namespace davfp::mount {

FolderPrefetch::FolderPrefetch(List list, int listers, size_t maxQueued)
    : list_(std::move(list)), maxQueued_(maxQueued) {
  for (int i = 0; i < listers; ++i) listers_.emplace_back([this](std::stop_token stop) { run(stop); });
}

FolderPrefetch::~FolderPrefetch() {
  for (auto& lister : listers_) lister.request_stop();
  {
    platform::MutexLock lock(mu_);
    cv_.notifyAll();
  }
  listers_.clear();
}

void FolderPrefetch::add(const std::vector<Ino>& folders) {
  platform::MutexLock lock(mu_);
  for (Ino folder : folders) {
    if (queue_.size() >= maxQueued_) break;
    if (queued_.insert(folder).second) queue_.push_back(folder);
  }
  cv_.notifyAll();
}

void FolderPrefetch::run(std::stop_token stop) {
  for (;;) {
    Ino folder = 0;
    {
      platform::MutexLock lock(mu_);
      while (queue_.empty() && !stop.stop_requested()) cv_.wait(mu_);
      if (stop.stop_requested()) return;
      folder = queue_.front();
      queue_.pop_front();
    }
    list_(folder, stop);
    platform::MutexLock lock(mu_);
    queued_.erase(folder);
  }
}

}  // namespace davfp::mount
