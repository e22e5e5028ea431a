#include "provider/sync_anchor.h"

#include <string>

namespace davfp {

platform::SyncAnchor syncAnchor(const State& state) { return std::to_string(state.anchor()); }

}  // namespace davfp
