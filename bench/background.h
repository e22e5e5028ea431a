// Programs that keep running while a workload measures them (a mount's process), and the waiting around
// them: a Background process logs to a file, can be signalled and waited for with a deadline, and is killed
// and reaped by its destructor, so that none outlives a failed workload. Use one from one thread.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace davfp::bench {

class Background {
 public:
  // Starts argv[0] (found on PATH) with these variables added to the environment, stdin from /dev/null and
  // stdout and stderr appended to logPath. Throws std::runtime_error when it cannot be started.
  Background(const std::vector<std::string>& argv, const std::map<std::string, std::string>& extraEnv,
             const std::string& logPath);
  ~Background();
  Background(const Background&) = delete;
  Background& operator=(const Background&) = delete;

  pid_t pid() const { return pid_; }
  // Whether it still runs (reaping it when it has ended).
  bool running();
  // Waits until it ends; false when it still runs after timeout.
  bool waitForEnd(std::chrono::milliseconds timeout);
  void signal(int sig);

 private:
  pid_t pid_ = -1;
};

// Calls done every interval until it answers true (true) or timeout passed (false).
bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout,
               std::chrono::milliseconds interval = std::chrono::milliseconds(20));

// Whether a file system is mounted exactly at path (an absolute path without a trailing "/").
bool isMountPoint(const std::string& path);

// The peak resident set of a running process (VmHWM), in bytes; 0 when it cannot be read.
double peakResidentBytes(pid_t pid);

// The first process whose program name is comm and whose command line holds every one of words; -1 if none.
pid_t findProcess(const std::string& comm, const std::vector<std::string>& words);

}  // namespace davfp::bench
