// Rows of the benchmark summary table and the figures in them.
//
// Every workload prints its rows on stdout, one per line, fields separated by tabs: workload, ours, baseline,
// ratio, target, verdict ("pass", "miss", or "info" for a row given for comparison only); run.sh gathers them
// into one table. Progress and detail go to
// stderr. Plain functions; a Samples object belongs to one thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace davfp::bench {

using Clock = std::chrono::steady_clock;
using Seconds = std::chrono::duration<double>;

// Measurements of one quantity over several runs.
class Samples {
 public:
  void add(double value) { values_.push_back(value); }
  size_t size() const { return values_.size(); }
  double median() const;
  double max() const;

 private:
  std::vector<double> values_;
};

// Seconds since start.
inline double since(Clock::time_point start) { return Seconds(Clock::now() - start).count(); }
// CPU seconds this process has used so far, all its threads together.
double processCpuSeconds();

// "26.1 ms", "3.40 s".
std::string formatSeconds(double seconds);
// "60.2 MiB".
std::string formatBytes(double bytes);
// "251 MB/s" (decimal megabytes, as transfer rates are quoted).
std::string formatRate(double bytesPerSecond);
// "1.23"; "-" when the baseline was zero.
std::string formatRatio(double ours, double baseline);

struct Row {
  std::string workload;
  std::string ours;
  std::string baseline = "-";
  std::string ratio = "-";
  std::string target;
  bool pass = false;
  bool context = false;  // a figure for comparison only, with no target of its own: "info"
};

// Prints the row on stdout (and flushes, so that rows survive a later crash).
void emit(const Row& row);
// A row for a workload that could not be measured at all.
void emitFailure(const std::string& workload, const std::string& target, const std::string& why);

// How many runs each measurement takes its median over: the first argument of a workload, else 5.
int runsFrom(int argc, char** argv);

// Prints a line of detail on stderr.
void note(const std::string& line);

}  // namespace davfp::bench
