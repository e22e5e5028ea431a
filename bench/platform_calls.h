// The platform's side of the contract, as the benchmarks need it: a request or an enumeration started through
// the extension's public entry points and waited for. Each call counts its completions, so that a workload
// can check that every request completed exactly once. Thread-safe: any number of calls may run at once.
#pragma once

#include <atomic>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "platform/file_provider.h"
#include "provider/extension.h"

namespace davfp::bench {

struct ChangeSet {
  std::vector<platform::ItemRef> updated;
  std::vector<platform::ItemIdentifier> deleted;
  platform::SyncAnchor anchor;
};

// Every item of the container, in one enumeration. Throws platform::Error when it finishes with an error.
std::vector<platform::ItemRef> enumerateItems(FileProviderExtension& ext, const platform::ItemIdentifier& container);

// One change pass of the working set. Throws platform::Error when it finishes with an error.
ChangeSet enumerateChanges(FileProviderExtension& ext);

// A request started at once; get() waits for its completion handler and returns what it delivered, or throws
// the platform::Error it delivered. completions() counts how often the handler was called (exactly once is
// right).
template <class T>
class Pending {
 public:
  struct Shared {
    std::promise<T> promise;
    std::atomic<int> completions{0};
  };
  Pending() : shared_(std::make_shared<Shared>()), future_(shared_->promise.get_future()) {}

  T get() { return future_.get(); }
  int completions() const { return shared_->completions.load(); }
  const std::shared_ptr<Shared>& shared() const { return shared_; }

 private:
  std::shared_ptr<Shared> shared_;
  std::future<T> future_;
};

// itemForIdentifier: the item.
Pending<platform::ItemRef> startLookup(FileProviderExtension& ext, const platform::ItemIdentifier& id);
// fetchContents: the local file's path (the caller removes it).
Pending<std::string> startFetch(FileProviderExtension& ext, const platform::ItemIdentifier& id);
// modifyItem of an item the platform has, with these fields changed (contents: a local file): the item.
Pending<platform::ItemRef> startModify(FileProviderExtension& ext, const platform::ItemRef& item,
                                       platform::ItemFields fields, std::optional<std::string> contents);

}  // namespace davfp::bench
