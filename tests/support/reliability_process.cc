#include "support/reliability_process.h"

#include <sys/resource.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace davfp::testing {

uint64_t residentBytes() {
  std::ifstream statm("/proc/self/statm");
  uint64_t size = 0, resident = 0;
  statm >> size >> resident;
  return resident * static_cast<uint64_t>(::sysconf(_SC_PAGESIZE));
}

uint64_t peakResidentBytes() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return static_cast<uint64_t>(usage.ru_maxrss) * 1024;
}

size_t threadCount() {
  size_t n = 0;
  std::error_code ignored;
  for (auto it = std::filesystem::directory_iterator("/proc/self/task", ignored);
       it != std::filesystem::directory_iterator(); it.increment(ignored)) {
    ++n;
  }
  return n;
}

std::vector<std::string> openDescriptors() {
  std::vector<std::string> out;
  std::error_code ignored;
  for (auto it = std::filesystem::directory_iterator("/proc/self/fd", ignored);
       it != std::filesystem::directory_iterator(); it.increment(ignored)) {
    std::string target = std::filesystem::read_symlink(it->path(), ignored).string();
    // The directory stream of this very listing is open while it runs.
    if (target.find("/proc/") != std::string::npos && target.ends_with("/fd")) continue;
    out.push_back(it->path().filename().string() + " -> " + target);
  }
  return out;
}

}  // namespace davfp::testing
