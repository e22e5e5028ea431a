// davfp-bench: the benchmarks of davfp. `davfp-bench WORKLOAD [RUNS]` runs one workload and prints its
// summary rows (see summary.h); bench/run.sh runs them all and prints the table.
#include <exception>
#include <functional>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "summary.h"
#include "workloads.h"

namespace {

using davfp::bench::runsFrom;

int usage() {
  std::cerr << "usage: davfp-bench parse|listing|changes|transfer|state|concurrency|recursive-get|mount [RUNS]\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return usage();
  std::string mode = argv[1];
  std::vector<std::string> rest(argv + 2, argv + argc);
  const std::map<std::string, std::function<int(int)>> workloads = {
      {"parse", davfp::bench::parseWorkload},
      {"listing", davfp::bench::listingWorkload},
      {"changes", davfp::bench::changesWorkload},
      {"transfer", davfp::bench::transferWorkload},
      {"state", davfp::bench::stateWorkload},
      {"concurrency", davfp::bench::concurrencyWorkload},
      {"recursive-get", davfp::bench::recursiveGetWorkload},
      {"mount", davfp::bench::mountWorkload},
  };
  const std::map<std::string, std::function<int(const std::vector<std::string>&)>> children = {
      {"enumerate-child", davfp::bench::enumerateChild},
      {"enumerate-tree-child", davfp::bench::enumerateTreeChild},
      {"fetch-child", davfp::bench::fetchChild},
      {"upload-child", davfp::bench::uploadChild},
  };
  try {
    if (auto it = workloads.find(mode); it != workloads.end()) return it->second(runsFrom(argc - 2, argv + 2));
    if (auto it = children.find(mode); it != children.end()) return it->second(rest);
  } catch (const std::exception& e) {
    std::cerr << "davfp-bench " << mode << ": " << e.what() << "\n";
    return 1;
  }
  return usage();
}
