// Trash: replica copies that are no longer wanted, taken out of the way at once and removed on a thread of
// their own. Removing a file can wait for the disk (its blocks freed, discarded on some file systems), and a
// program's unlink, rename or eviction must not wait for that: the copy is renamed into the trash folder,
// which frees nothing, and removed from there afterwards. What a crash left in the folder goes when the
// next mount starts. Thread-safe.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <thread>

#include "platform/mutex.h"

namespace davfp::mount {

class Trash {
 public:
  // The trash at folder, an existing folder on the copies' file system; whatever it holds already is removed
  // first.
  explicit Trash(std::string folder);
  // Removes what is still in the trash, then ends.
  ~Trash();
  Trash(const Trash&) = delete;
  Trash& operator=(const Trash&) = delete;

  // Takes the file at path out of the way now; a missing file is no error.
  void put(const std::string& path);

 private:
  void empty(std::stop_token stop);

  const std::string folder_;
  platform::Mutex mu_;
  platform::CondVar cv_;
  std::deque<std::string> waiting_ GUARDED_BY(mu_);  // names in the folder, to be removed
  uint64_t count_ GUARDED_BY(mu_) = 0;               // files put so far, which names them
  std::jthread remover_;                              // last: it ends before the rest goes
};

}  // namespace davfp::mount
