// Google Benchmark, run from inside a workload: benchmarks registered by the workload run with repetitions,
// Google Benchmark's own report goes to stderr, and the workload gets each benchmark's median back to build
// its summary rows. Call from the main thread, once per process.
#pragma once

#include <map>
#include <string>

namespace davfp::bench {

// Runs every registered benchmark `runs` times; returns each one's median real time per iteration, in
// seconds, by benchmark name.
std::map<std::string, double> runMicroBenchmarks(int runs);

}  // namespace davfp::bench
