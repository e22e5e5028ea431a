#include "mount/replica_limit.h"

#include <sys/stat.h>
#include <sys/statvfs.h>

#include <algorithm>
#include <chrono>
#include <utility>
#include <vector>

namespace davfp::mount {

namespace {

constexpr int64_t kDefaultCap = int64_t{20} << 30;
constexpr auto kPause = std::chrono::seconds(1);

// What the copy takes on the disk.
int64_t blocksOf(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? static_cast<int64_t>(st.st_blocks) * 512 : 0;
}

std::string mib(int64_t bytes) { return std::to_string((bytes + (1 << 20) - 1) >> 20) + " MiB"; }

}  // namespace

ReplicaLimit::ReplicaLimit(int64_t maxBytes, Journal& journal, const Replica& replica,
                           std::function<bool(Ino)> evict, std::function<void(const std::string&)> log)
    : maxBytes_(maxBytes),
      journal_(journal),
      replica_(replica),
      evict_(std::move(evict)),
      log_(std::move(log)),
      thread_([this](std::stop_token stop) {
        for (;;) {
          {
            platform::MutexLock lock(mu_);
            if (!cv_.wait(mu_, stop, [this]() REQUIRES(mu_) { return asked_; })) return;
            asked_ = false;
          }
          try {
            enforce();
          } catch (const std::exception& e) {
            log_(std::string("keeping the replica under its limit failed: ") + e.what());
          }
          // A check walks the replica's folder: at most one a second, however many fetches ask for one.
          platform::MutexLock lock(mu_);
          cv_.waitFor(mu_, stop, kPause, [] { return false; });
        }
      }) {}

ReplicaLimit::~ReplicaLimit() {
  thread_.request_stop();
  if (thread_.joinable()) thread_.join();
}

void ReplicaLimit::noteUse(Ino ino) {
  platform::MutexLock lock(mu_);
  lastUse_[ino] = ++uses_;
}

void ReplicaLimit::check() {
  platform::MutexLock lock(mu_);
  asked_ = true;
  cv_.notifyAll();
}

bool ReplicaLimit::over() const {
  platform::MutexLock lock(mu_);
  return over_;
}

void ReplicaLimit::enforce() {
  int64_t size = replica_.size();
  if (size <= maxBytes_) {
    bool was = false;
    int64_t evictions = 0;
    {
      platform::MutexLock lock(mu_);
      was = std::exchange(over_, false);
      evictions = evictions_;
      if (!was && noted_) return;
      noted_ = true;
    }
    journal_.noteReplicaLimit(maxBytes_, evictions, false);
    return;
  }
  // Least recently used first; a copy no program opened since the mount started is older than any that was.
  std::vector<std::pair<uint64_t, Ino>> order;
  {
    const std::vector<Ino> files = journal_.materialisedFiles();
    platform::MutexLock lock(mu_);
    for (Ino ino : files) {
      auto it = lastUse_.find(ino);
      order.emplace_back(it == lastUse_.end() ? 0 : it->second, ino);
    }
  }
  std::sort(order.begin(), order.end());
  const int64_t target = maxBytes_ / 10 * 9;
  int evicted = 0;
  for (const auto& [use, ino] : order) {
    if (size <= target) break;
    const int64_t taken = blocksOf(replica_.contents(ino));
    if (!evict_(ino)) continue;
    size -= taken;
    ++evicted;
    platform::MutexLock lock(mu_);
    lastUse_.erase(ino);
  }
  if (evicted > 0) log_("evicted " + std::to_string(evicted) + " files to keep the replica under " + mib(maxBytes_));
  const bool over = size > maxBytes_;
  int64_t evictions = 0;
  {
    platform::MutexLock lock(mu_);
    if (over && !over_) {
      log_("the replica takes " + mib(size) + ", above its limit of " + mib(maxBytes_) +
           ": what is left is pinned, not sent yet or open, and stays");
    }
    over_ = over;
    evictions_ += evicted;
    evictions = evictions_;
    noted_ = true;
  }
  journal_.noteReplicaLimit(maxBytes_, evictions, over);
}

int64_t ReplicaLimit::defaultFor(const std::string& folder) {
  struct statvfs fs {};
  if (::statvfs(folder.c_str(), &fs) != 0) return kDefaultCap;
  const auto total = static_cast<int64_t>(fs.f_blocks) * static_cast<int64_t>(fs.f_frsize);
  return std::min(total / 10, kDefaultCap);
}

}  // namespace davfp::mount
