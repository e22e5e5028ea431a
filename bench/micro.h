// Google Benchmark, run from inside a workload: benchmarks registered by the workload run with repetitions,
// Google Benchmark's own report goes to stderr, and the workload gets each benchmark's median back to build
// its summary rows. Call from the main thread, once per process.
#pragma once

#include <map>
#include <string>

namespace davfp::bench {

struct Medians {
  double real = 0;  // wall-clock seconds per iteration
  double cpu = 0;   // CPU seconds of the benchmark's thread per iteration
};

// Runs every registered benchmark `runs` times; returns each one's medians by benchmark name.
std::map<std::string, Medians> runMicroBenchmarks(int runs);

}  // namespace davfp::bench
