// ProviderTest: the fixture of the extension's tests. A tree in memory served over WebDAV by a fake server
// under /dav/, an Env whose drives.json names it, and blocking helpers for requests and enumerations.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/file_provider.h"
#include "provider/extension.h"
#include "support/dav_test_env.h"
#include "support/dav_test_util.h"
#include "support/fake_server.h"
#include "support/recording_observer.h"
#include "support/served_tree.h"

namespace davfp::testing {

class ProviderTest : public ::testing::Test {
 protected:
  static constexpr std::string_view kDomain = "drive";
  static constexpr std::string_view kDisplayName = "My Drive";

  ProviderTest() { env.publish(kDomain, server.url("/dav/")); }

  // A new extension of the domain. An unreachable server fails at once: no waiting for a host application.
  std::shared_ptr<FileProviderExtension> extension(std::string domain = std::string(kDomain)) {
    return FileProviderExtension::create({std::move(domain), std::string(kDisplayName)}, env,
                                         DavTimings{.polls = 0});
  }

  struct Looked {
    platform::ItemRef item;
    std::optional<platform::Error> error;
  };
  struct Fetched {
    std::optional<std::string> file;
    platform::ItemRef item;
    std::optional<platform::Error> error;
  };
  // Runs the request and waits for its completion.
  static Looked lookup(FileProviderExtension& ext, const platform::ItemIdentifier& id);
  static Fetched fetch(FileProviderExtension& ext, const platform::ItemIdentifier& id);
  // Runs one enumeration of the container and waits until it has let go of its observer.
  static std::shared_ptr<RecordingObserver> enumerate(FileProviderExtension& ext,
                                                      const platform::ItemIdentifier& container);
  static std::shared_ptr<RecordingObserver> changes(
      FileProviderExtension& ext,
      const platform::ItemIdentifier& container = platform::kWorkingSetContainerItemIdentifier);

  // The identifier the state holds for path, or "" when it holds none.
  static std::string idOf(FileProviderExtension& ext, const std::string& path) {
    return ext.state().existingId(path).value_or("");
  }

  DavTestEnv env;
  FakeServer server;
  ServedTree tree{server};
};

using Strings = std::vector<std::string>;
Strings sorted(Strings strings);
// The item of the list with this identifier, or null.
platform::ItemRef findItem(const std::vector<platform::ItemRef>& items, const platform::ItemIdentifier& id);
// The items' file names, in order.
Strings filenames(const std::vector<platform::ItemRef>& items);

}  // namespace davfp::testing
