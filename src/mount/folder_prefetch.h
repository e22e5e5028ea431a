// FolderPrefetch: lists folders ahead of the programs that walk a tree. When a program reads a folder, the
// folders in it that were never listed are listed in the background, a few side by side, so that a walk
// (find, ls -R, du, a file manager opening one folder after another) finds the next level listed instead of
// waiting for each folder's listing in turn. Only one level below what a program read is listed: a folder
// nobody looks into costs its listing and nothing below it. A program asking for a folder that is being
// listed waits for that listing (DriveFs lists each folder once at a time). Thread-safe; destroying it
// cancels the listings in flight.
#pragma once

#include <cstddef>
#include <deque>
#include <functional>
#include <set>
#include <stop_token>
#include <thread>
#include <vector>

#include "mount/node.h"
#include "platform/mutex.h"

namespace davfp::mount {

class FolderPrefetch {
 public:
  // list: lists a folder unless it is listed already, ending early when the token asks to; failures are its
  // own to log.
  using List = std::function<void(Ino, std::stop_token)>;

  explicit FolderPrefetch(List list, int listers = kListers, size_t maxQueued = kMaxQueued);
  ~FolderPrefetch();
  FolderPrefetch(const FolderPrefetch&) = delete;
  FolderPrefetch& operator=(const FolderPrefetch&) = delete;

  // Queues the folders, after those queued before; beyond maxQueued waiting, the rest are left to be listed
  // when a program asks for them.
  void add(const std::vector<Ino>& folders);

  static constexpr int kListers = 8;
  static constexpr size_t kMaxQueued = 10'000;

 private:
  void run(std::stop_token stop);

  const List list_;
  const size_t maxQueued_;
  platform::Mutex mu_;
  platform::CondVar cv_;
  std::deque<Ino> queue_ GUARDED_BY(mu_);
  std::set<Ino> queued_ GUARDED_BY(mu_);  // waiting or being listed
  std::vector<std::jthread> listers_;     // last: they end before the rest goes
};

}  // namespace davfp::mount
