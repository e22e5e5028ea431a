// StateWriteWatch: counts how often a state file is replaced while another process works on it. The engine
// writes the file atomically (a new file renamed over it), so each write is one rename onto its name, which
// inotify reports without touching the writer. Renames away from the temporary names are watched too: inotify
// merges identical events queued back to back, and two renames onto one name would otherwise count once.
// One watch per thread.
#pragma once

#include <string>

namespace davfp::bench {

class StateWriteWatch {
 public:
  // Watches dir for files renamed onto fileName. Throws std::runtime_error when inotify refuses.
  StateWriteWatch(const std::string& dir, std::string fileName);
  ~StateWriteWatch();
  StateWriteWatch(const StateWriteWatch&) = delete;
  StateWriteWatch& operator=(const StateWriteWatch&) = delete;

  // The writes seen so far (reads what inotify has queued; call it after the writer has finished).
  long count();

 private:
  int fd_ = -1;
  std::string fileName_;
  long count_ = 0;
};

}  // namespace davfp::bench
