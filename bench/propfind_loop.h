// The baseline of the change pass: a minimal libcurl client sending one PROPFIND (the engine's body, depth 1)
// to each URL in turn on one easy handle, so that the connection is kept alive, and discarding the answers
// (or only parsing them).
#pragma once

#include <string>
#include <vector>

namespace davfp::bench {

struct LoopResult {
  double seconds = 0;
  double cpuSeconds = 0;
  long connections = 0;  // connections libcurl opened
};

// Throws std::runtime_error when a request fails or is not answered 207. With parse, each body is also fed
// to expat (namespace processing, empty handlers) as it arrives: the least that any client reading the
// answers does.
LoopResult propfindLoop(const std::vector<std::string>& urls, bool parse = false);

}  // namespace davfp::bench
