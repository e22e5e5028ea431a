#include "mount/trash.h"

#include <cstdio>
#include <filesystem>

namespace davfp::mount {

Trash::Trash(std::string folder) : folder_(std::move(folder)) {
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(folder_, ec)) {
    waiting_.push_back(entry.path().filename().string());
  }
  remover_ = std::jthread([this](std::stop_token stop) { empty(stop); });
}

Trash::~Trash() {
  remover_.request_stop();
  {
    platform::MutexLock lock(mu_);
    cv_.notifyAll();
  }
  remover_.join();
}

void Trash::put(const std::string& path) {
  platform::MutexLock lock(mu_);
  // A name that a crash left in the folder may come again: the rename replaces that file, trash too.
  std::string name = std::to_string(++count_);
  if (std::rename(path.c_str(), (folder_ + "/" + name).c_str()) != 0) {
    // Not there (nothing to do), or it cannot be moved: removed here, as without a trash.
    std::remove(path.c_str());
    return;
  }
  waiting_.push_back(std::move(name));
  cv_.notifyAll();
}

void Trash::empty(std::stop_token stop) {
  platform::MutexLock lock(mu_);
  for (;;) {
    while (waiting_.empty() && !stop.stop_requested()) cv_.wait(mu_);
    if (waiting_.empty()) return;
    std::string path = folder_ + "/" + waiting_.front();
    waiting_.pop_front();
    lock.unlock();
    std::remove(path.c_str());
    lock.lock();
  }
}

}  // namespace davfp::mount
