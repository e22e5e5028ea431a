#include "client/enumeration.h"

#include <exception>
#include <utility>

#include "client/errors.h"

namespace davfp::client {

Enumeration::Record Enumeration::wait(std::stop_token cancel) {
  std::stop_callback onCancel(cancel, [this] { finished_.fail(std::make_exception_ptr(cancelledError())); });
  return finished_.take();
}

Enumeration::Record Enumeration::record() const {
  platform::MutexLock lock(mu_);
  return record_;
}

void Enumeration::received(const char* call) {
  if (record_.finishes > 0) record_.lateCalls.emplace_back(call);
  record_.calls.emplace_back(call);
}

bool Enumeration::finishedLocked() {
  if (++record_.finishes > 1) return false;
  record_.finishThread = std::this_thread::get_id();
  return true;
}

void Enumeration::didEnumerateItems(std::vector<platform::ItemRef> items) {
  platform::MutexLock lock(mu_);
  received("items");
  record_.items.insert(record_.items.end(), std::make_move_iterator(items.begin()),
                       std::make_move_iterator(items.end()));
}

void Enumeration::didUpdateItems(std::vector<platform::ItemRef> items) {
  platform::MutexLock lock(mu_);
  received("updated");
  for (auto& item : items) record_.changes.push_back({std::move(item), std::nullopt});
}

void Enumeration::didDeleteItemsWithIdentifiers(std::vector<platform::ItemIdentifier> identifiers) {
  platform::MutexLock lock(mu_);
  received("deleted");
  for (auto& id : identifiers) record_.changes.push_back({nullptr, std::move(id)});
}

void Enumeration::finishEnumeratingUpToPage(std::optional<platform::Page> nextPage) {
  platform::MutexLock lock(mu_);
  received("finishPage");
  if (!finishedLocked()) return;
  record_.nextPage = std::move(nextPage);
  Record snapshot = record_;
  lock.unlock();
  finished_.deliver(std::move(snapshot));
}

void Enumeration::finishEnumeratingChangesUpToSyncAnchor(platform::SyncAnchor anchor, bool moreComing) {
  platform::MutexLock lock(mu_);
  received("finishChanges");
  if (!finishedLocked()) return;
  record_.anchor = std::move(anchor);
  record_.moreComing = moreComing;
  Record snapshot = record_;
  lock.unlock();
  finished_.deliver(std::move(snapshot));
}

void Enumeration::finishEnumeratingWithError(const platform::Error& error) {
  platform::MutexLock lock(mu_);
  received("error");
  if (!finishedLocked()) return;
  record_.error = error;
  lock.unlock();
  finished_.fail(std::make_exception_ptr(error));
}

}  // namespace davfp::client
