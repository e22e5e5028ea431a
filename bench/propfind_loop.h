// The baseline of the change pass: a minimal libcurl client sending one PROPFIND (the engine's body, depth 1)
// to each URL in turn on one easy handle, so that the connection is kept alive, and discarding the answers.
#pragma once

#include <string>
#include <vector>

namespace davfp::bench {

struct LoopResult {
  double seconds = 0;
  long connections = 0;  // connections libcurl opened
};

// Throws std::runtime_error when a request fails or is not answered 207.
LoopResult propfindLoop(const std::vector<std::string>& urls);

}  // namespace davfp::bench
