// ProviderTest: the fixture of the extension's tests. A tree in memory served over WebDAV by a fake server
// under /dav/, an Env whose drives.json names it, and blocking helpers for requests and enumerations.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "client/platform_client.h"
#include "dav/dav.h"
#include "platform/file_provider.h"
#include "provider/extension.h"
#include "state/state.h"
#include "support/dav_test_env.h"
#include "support/dav_test_util.h"
#include "support/fake_server.h"
#include "support/recording_observer.h"
#include "support/served_tree.h"

namespace davfp::testing {

using Strings = std::vector<std::string>;

class ProviderTest : public ::testing::Test {
 protected:
  static constexpr std::string_view kDomain = "drive";
  static constexpr std::string_view kDisplayName = "My Drive";

  ProviderTest() { env.publish(kDomain, server.url("/dav/")); }

  // A new extension of the domain. An unreachable server fails at once: no waiting for a host application.
  // Its client and state are kept: dav() and state() are those of the extension made last.
  std::shared_ptr<FileProviderExtension> extension(std::string domain = std::string(kDomain)) {
    // The state of an extension let go of before is gone before the new one loads, as in a new process.
    dav_.reset();
    state_.reset();
    dav_ = Dav::create(domain, env, DavTimings{.polls = 0});
    state_ = std::make_shared<State>(domain, env);
    return FileProviderExtension::create({std::move(domain), std::string(kDisplayName)}, dav_, state_, env);
  }
  Dav& dav() { return *dav_; }
  State& state() { return *state_; }

  struct Looked {
    platform::ItemRef item;
    std::optional<platform::Error> error;
  };
  struct Fetched {
    std::optional<std::string> file;
    platform::ItemRef item;
    std::optional<platform::Error> error;
  };
  // Run the request and wait for its completion; an error as a value.
  static Looked lookup(FileProviderExtension& ext, const platform::ItemIdentifier& id) {
    try {
      return {client::PlatformClient(ext.shared_from_this()).item(id), std::nullopt};
    } catch (const platform::Error& e) {
      return {nullptr, e};
    }
  }
  static Fetched fetch(FileProviderExtension& ext, const platform::ItemIdentifier& id) {
    try {
      auto fetched = client::PlatformClient(ext.shared_from_this()).fetch(id, std::nullopt);
      return {std::move(fetched.file), std::move(fetched.item), std::nullopt};
    } catch (const platform::Error& e) {
      return {std::nullopt, nullptr, e};
    }
  }
  // Run one enumeration of the container and wait until it has let go of its observer.
  static std::shared_ptr<RecordingObserver> enumerate(FileProviderExtension& ext,
                                                      const platform::ItemIdentifier& container) {
    auto rec = RecordingObserver::make();
    ext.enumerator(container, {})->enumerateItems(rec->handle(), platform::kInitialPageSortedByName);
    rec->wait();
    return rec;
  }
  static std::shared_ptr<RecordingObserver> changes(
      FileProviderExtension& ext,
      const platform::ItemIdentifier& container = platform::kWorkingSetContainerItemIdentifier) {
    auto rec = RecordingObserver::make();
    ext.enumerator(container, {})->enumerateChanges(rec->handle(), "1");
    rec->wait();
    return rec;
  }

  // The identifier the state holds for path, or "" when it holds none.
  std::string idOf(const std::string& path) { return state().existingId(path).value_or(""); }

  DavTestEnv env;
  FakeServer server;
  ServedTree tree{server};

 private:
  std::shared_ptr<Dav> dav_;
  std::shared_ptr<State> state_;
};

inline Strings sorted(Strings strings) {
  std::sort(strings.begin(), strings.end());
  return strings;
}

// The item of the list with this identifier, or null.
inline platform::ItemRef findItem(const std::vector<platform::ItemRef>& items,
                                  const platform::ItemIdentifier& id) {
  auto it = std::find_if(items.begin(), items.end(),
                         [&](const auto& item) { return item->itemIdentifier() == id; });
  return it == items.end() ? nullptr : *it;
}

// The items' file names, in order.
inline Strings filenames(const std::vector<platform::ItemRef>& items) {
  Strings out;
  for (const auto& item : items) out.push_back(item->filename());
  return out;
}

}  // namespace davfp::testing
