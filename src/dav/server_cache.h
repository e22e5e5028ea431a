// ServerCache: the base URL of one domain, with at most one resolution in flight.
//
// Callers that arrive while a resolution runs join it. The resolution runs as a task of its own and writes its
// outcome into the cache itself, so cancelling the caller that started it stops neither the resolution nor its
// delivery to the cache and the other waiters. Thread-safe.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/mutex.h"
#include "platform/task.h"

namespace davfp {

class ServerCache {
 public:
  using Resolve = std::function<std::string()>;

  ServerCache() : shared_(std::make_shared<Shared>()) {}

  // The cached URL unless it equals stale; otherwise the outcome of the running resolution, or of a new one
  // started with resolve. Throws what resolve throws, or Cancelled when the calling job is cancelled while it
  // waits. A failed resolution caches nothing.
  std::string get(const std::optional<std::string>& stale, Resolve resolve);

 private:
  struct Shared {
    platform::Mutex mu;
    std::optional<std::string> url GUARDED_BY(mu);
    std::optional<platform::Task<std::string>> pending GUARDED_BY(mu);
  };
  std::shared_ptr<Shared> shared_;
};

}  // namespace davfp
