// The sync anchor that the platform is given: the state's change counter in decimal. Safe from any thread.
#pragma once

#include "platform/file_provider.h"
#include "state/state.h"

namespace davfp {

// The current anchor, read without the state's lock.
platform::SyncAnchor syncAnchor(const State& state);

}  // namespace davfp
