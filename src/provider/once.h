// Once: a lock-guarded one-shot flag. Exactly one call of claim() over its life returns true. Thread-safe.
#pragma once

#include <mutex>

namespace davfp {

class Once {
 public:
  bool claim() {
    std::lock_guard guard(mu_);
    if (done_) return false;
    done_ = true;
    return true;
  }

 private:
  std::mutex mu_;
  bool done_ = false;  // guarded by mu_
};

}  // namespace davfp
