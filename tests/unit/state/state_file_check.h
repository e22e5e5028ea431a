// A check that the state file holds exactly what a State holds.
#pragma once

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "state/state.h"
#include "support/test_env.h"

namespace davfp::testing {

// A new State of the same domain loads what state holds. ids: every identifier the test was handed,
// forgotten ones included (they must stay forgotten).
inline void expectFileMatches(State& state, platform::Env& env, std::string_view domain,
                              const std::set<std::string>& ids) {
  SCOPED_TRACE("state file " + state.file());
  State reloaded(domain, env);
  EXPECT_EQ(reloaded.anchor(), state.anchor());
  EXPECT_EQ(reloaded.knownFolders(), state.knownFolders());
  for (const auto& id : ids) EXPECT_EQ(reloaded.path(id), state.path(id)) << id;
}

}  // namespace davfp::testing
