#include "micro.h"

#include <benchmark/benchmark.h>

#include <iostream>
#include <stdexcept>
#include <vector>

namespace davfp::bench {

namespace {

// Google Benchmark's console report, on stderr, keeping the medians.
class MedianReporter final : public benchmark::ConsoleReporter {
 public:
  MedianReporter() : ConsoleReporter(OO_Tabular) {
    SetOutputStream(&std::cerr);
    SetErrorStream(&std::cerr);
  }

  void ReportRuns(const std::vector<Run>& reports) override {
    ConsoleReporter::ReportRuns(reports);
    for (const auto& run : reports) {
      if (run.error_occurred) failed_ += run.benchmark_name() + ": " + run.error_message + "\n";
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median") {
        double unit = benchmark::GetTimeUnitMultiplier(run.time_unit);
        medians_[run.run_name.function_name] = {run.GetAdjustedRealTime() / unit, run.GetAdjustedCPUTime() / unit};
      }
    }
  }

  std::map<std::string, Medians> medians_;
  std::string failed_;
};

}  // namespace

std::map<std::string, Medians> runMicroBenchmarks(int runs) {
  std::string repetitions = "--benchmark_repetitions=" + std::to_string(runs);
  std::vector<std::string> args = {"davfp-bench", repetitions, "--benchmark_report_aggregates_only=true"};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  int argc = static_cast<int>(argv.size());
  benchmark::Initialize(&argc, argv.data());
  MedianReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  if (!reporter.failed_.empty()) throw std::runtime_error(reporter.failed_);
  return reporter.medians_;
}

}  // namespace davfp::bench
