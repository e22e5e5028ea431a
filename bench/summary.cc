#include "summary.h"

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iostream>

namespace davfp::bench {

namespace {

std::string printed(const char* format, double value) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, format, value);
  return buffer;
}

// Three significant digits at most, the way figures are quoted.
std::string threeDigits(double value) {
  if (value >= 100) return printed("%.0f", value);
  if (value >= 10) return printed("%.1f", value);
  return printed("%.2f", value);
}

// Tabs and line breaks would break the row format.
std::string field(std::string text) {
  std::replace_if(text.begin(), text.end(), [](char c) { return c == '\t' || c == '\n'; }, ' ');
  return text;
}

}  // namespace

double Samples::median() const {
  if (values_.empty()) return 0;
  std::vector<double> sorted = values_;
  std::sort(sorted.begin(), sorted.end());
  size_t mid = sorted.size() / 2;
  return sorted.size() % 2 == 1 ? sorted[mid] : (sorted[mid - 1] + sorted[mid]) / 2;
}

double Samples::max() const { return values_.empty() ? 0 : *std::max_element(values_.begin(), values_.end()); }

std::string formatSeconds(double seconds) {
  if (seconds < 1e-3) return threeDigits(seconds * 1e6) + " us";
  if (seconds < 1) return threeDigits(seconds * 1e3) + " ms";
  return threeDigits(seconds) + " s";
}

std::string formatBytes(double bytes) {
  if (bytes < 1024 * 1024) return threeDigits(bytes / 1024) + " KiB";
  if (bytes < 1024.0 * 1024 * 1024) return threeDigits(bytes / (1024 * 1024)) + " MiB";
  return threeDigits(bytes / (1024.0 * 1024 * 1024)) + " GiB";
}

std::string formatRate(double bytesPerSecond) { return threeDigits(bytesPerSecond / 1e6) + " MB/s"; }

std::string formatRatio(double ours, double baseline) {
  if (baseline <= 0) return "-";
  return threeDigits(ours / baseline);
}

void emit(const Row& row) {
  std::cout << field(row.workload) << '\t' << field(row.ours) << '\t' << field(row.baseline) << '\t'
            << field(row.ratio) << '\t' << field(row.target) << '\t'
            << (row.context ? "info" : row.pass ? "pass" : "miss") << std::endl;
}

void emitFailure(const std::string& workload, const std::string& target, const std::string& why) {
  note(workload + ": " + why);
  emit(Row{.workload = workload, .ours = "failed", .target = target, .pass = false});
}

int runsFrom(int argc, char** argv) {
  if (argc > 0) {
    int runs = std::atoi(argv[0]);
    if (runs > 0) return runs;
  }
  return 5;
}

double processCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

void note(const std::string& line) { std::cerr << line << std::endl; }

}  // namespace davfp::bench
