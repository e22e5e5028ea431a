// What the state layer's tests share: an Env whose shared container, data directory and temporary directory
// lie in a private temporary directory, with writes counted and switches (atomic) that take the directories
// away or make every write fail (a full disk) at any point of a test; and a check that the state file holds
// exactly what a State holds.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <set>
#include <string>

#include "platform/error.h"
#include "platform/file_provider.h"
#include "state/state.h"
#include "state/state_file.h"
#include "support/dav_test_env.h"

namespace davfp::testing {

class StateTestEnv : public DavTestEnv {
 public:
  // Where the state files of kAppBundleID's extension go.
  std::string statePath() { return *DavTestEnv::applicationDataDirectory("org.davfp.host.extension"); }

  std::optional<std::string> groupContainer(std::string_view appGroup) override {
    return noContainer ? std::nullopt : DavTestEnv::groupContainer(appGroup);
  }
  std::optional<std::string> applicationDataDirectory(std::string_view bundleID) override {
    return noDataDirectory ? std::nullopt : DavTestEnv::applicationDataDirectory(bundleID);
  }
  void writeFileAtomically(const std::string& path, std::string_view bytes) override {
    if (failWrites) throw platform::posixError(ENOSPC, "write " + path);
    DavTestEnv::writeFileAtomically(path, bytes);
  }

  std::atomic<bool> noContainer{false};
  std::atomic<bool> noDataDirectory{false};
  std::atomic<bool> failWrites{false};
};

// The state file holds exactly what state holds, read directly and through a new State of the same domain.
// ids: every identifier the test was handed, forgotten ones included.
inline void expectFileMatches(State& state, platform::Env& env, std::string_view domain,
                              const std::set<std::string>& ids) {
  SCOPED_TRACE("state file " + state.file());
  auto disk = decodeState(readFile(state.file()));
  ASSERT_TRUE(disk) << "the state file does not decode";
  EXPECT_EQ(disk->anchor, state.anchor());
  EXPECT_EQ(disk->listed, state.knownFolders());
  size_t live = 0;
  for (const auto& id : ids) {
    if (id == platform::kRootContainerItemIdentifier) continue;  // fixed, never stored
    auto path = state.path(id);
    auto stored = disk->ids.find(id);
    if (!path) {
      EXPECT_EQ(stored, disk->ids.end()) << id << " was forgotten but is in the file";
      continue;
    }
    ++live;
    ASSERT_NE(stored, disk->ids.end()) << id << " is missing from the file";
    EXPECT_EQ(stored->second, *path) << id;
  }
  EXPECT_EQ(disk->ids.size(), live) << "the file holds identifiers that the state does not";

  State reloaded(domain, env);
  EXPECT_EQ(reloaded.anchor(), state.anchor());
  EXPECT_EQ(reloaded.knownFolders(), state.knownFolders());
  for (const auto& id : ids) EXPECT_EQ(reloaded.path(id), state.path(id)) << id;
}

}  // namespace davfp::testing
