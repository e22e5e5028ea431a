#include "unit/provider/provider_test_env.h"

#include <algorithm>
#include <future>

namespace davfp::testing {

namespace {

// The value of the one completion a request delivers; a second one fails the test.
template <class T>
struct Completion {
  std::promise<T> promise;
  std::atomic<int> calls{0};
  void set(T value) {
    if (++calls == 1) {
      promise.set_value(std::move(value));
    } else {
      ADD_FAILURE() << "a second completion";
    }
  }
  T get() {
    auto future = promise.get_future();
    if (future.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
      ADD_FAILURE() << "no completion";
      return T{};
    }
    return future.get();
  }
};

}  // namespace

ProviderTest::Looked ProviderTest::lookup(FileProviderExtension& ext, const platform::ItemIdentifier& id) {
  auto done = std::make_shared<Completion<Looked>>();
  ext.itemForIdentifier(id, {}, [done](platform::ItemRef item, std::optional<platform::Error> error) {
    done->set({std::move(item), std::move(error)});
  });
  return done->get();
}

ProviderTest::Fetched ProviderTest::fetch(FileProviderExtension& ext, const platform::ItemIdentifier& id) {
  auto done = std::make_shared<Completion<Fetched>>();
  ext.fetchContents(
      id, std::nullopt, {},
      [done](std::optional<std::string> file, platform::ItemRef item, std::optional<platform::Error> error) {
        done->set({std::move(file), std::move(item), std::move(error)});
      });
  return done->get();
}

std::shared_ptr<RecordingObserver> ProviderTest::enumerate(FileProviderExtension& ext,
                                                           const platform::ItemIdentifier& container) {
  auto rec = RecordingObserver::make();
  ext.enumerator(container, {})->enumerateItems(rec->handle(), platform::kInitialPageSortedByName);
  rec->wait();
  return rec;
}

std::shared_ptr<RecordingObserver> ProviderTest::changes(FileProviderExtension& ext,
                                                         const platform::ItemIdentifier& container) {
  auto rec = RecordingObserver::make();
  ext.enumerator(container, {})->enumerateChanges(rec->handle(), "1");
  rec->wait();
  return rec;
}

Strings sorted(Strings strings) {
  std::sort(strings.begin(), strings.end());
  return strings;
}

platform::ItemRef findItem(const std::vector<platform::ItemRef>& items, const platform::ItemIdentifier& id) {
  auto it = std::find_if(items.begin(), items.end(),
                         [&](const auto& item) { return item->itemIdentifier() == id; });
  return it == items.end() ? nullptr : *it;
}

Strings filenames(const std::vector<platform::ItemRef>& items) {
  Strings out;
  for (const auto& item : items) out.push_back(item->filename());
  return out;
}

}  // namespace davfp::testing
