// A check that the state file holds exactly what a State holds.
#pragma once

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "platform/file_provider.h"
#include "state/state.h"
#include "state/state_file.h"
#include "support/test_env.h"

namespace davfp::testing {

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
