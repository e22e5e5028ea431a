// Running another program to its end and measuring it: wall time, peak resident memory, exit status.
//
// Used for the whole-process comparisons (our programs, curl, rclone). The child runs under
// davfp-bench-launch, which measures its peak memory; its stdout goes to a file or to /dev/null, its stderr is
// kept so that a failure can be explained. Plain functions, callable from any thread.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace davfp::bench {

struct ChildRun {
  int exitStatus = -1;     // the exit code, or -1 when it died of a signal
  double seconds = 0;      // from start to exit (the launcher's fork and exec included)
  double peakBytes = 0;    // its peak resident set
  std::string errorOutput; // what it wrote to stderr (the first few KiB)
};

struct ChildSpec {
  std::vector<std::string> argv;                  // argv[0] is the program, found on PATH
  std::map<std::string, std::string> extraEnv;    // added to (or replacing in) this process's environment
  std::string stdoutPath = "/dev/null";
  std::string stdinPath = "/dev/null";
};

// Starts the program and waits for it. Throws std::runtime_error when it cannot be started.
ChildRun runChild(const ChildSpec& spec);

// The path of the running program itself, to start it again in another mode.
std::string selfPath();

}  // namespace davfp::bench
