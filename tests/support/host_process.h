// Programs run as separate processes, as a person at a shell runs them: given arguments and a complete
// environment, stdin from /dev/null, stdout and stderr captured, the exit status collected. For the
// integration tests of the davfp program and the host application. A ChildProcess is used from one thread;
// its destructor kills and reaps a process that is still running, so none outlives a failed test.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace davfp::testing {

struct ProcessResult {
  int status = -1;  // the exit status, or 128 + the signal that ended the process
  std::string out;
  std::string err;
};

class ChildProcess {
 public:
  // argv[0] is the program's path. Throws std::runtime_error when it cannot be started.
  static std::unique_ptr<ChildProcess> start(const std::vector<std::string>& argv,
                                             const std::vector<std::string>& env);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Reads output until stdout (or stderr) holds text, and returns true; false when the process ends first
  // or the time runs out.
  bool waitForOutput(const std::string& text, bool onStderr, std::chrono::milliseconds timeout);
  void signal(int sig);
  // Waits for the end (killing the process when the time runs out) and returns everything it wrote.
  ProcessResult finish(std::chrono::milliseconds timeout);

  pid_t pid() const { return pid_; }
  const std::string& out() const { return text_[0]; }
  const std::string& err() const { return text_[1]; }

 private:
  ChildProcess() = default;
  // Reads what is available within the time given; false when both pipes are closed.
  bool readSome(std::chrono::milliseconds timeout);

  pid_t pid_ = -1;
  int fds_[2] = {-1, -1};  // the read ends of stdout's and stderr's pipes, -1 once closed
  std::string text_[2];    // what came through them
};

// Starts argv[0] with this environment, stdin from /dev/null, stdout and stderr on these descriptors (which
// this closes) and no other descriptor. In a process group of its own and killed when the thread that started
// it ends, when group is true. Throws std::runtime_error when it cannot fork.
pid_t spawnProcess(const std::vector<std::string>& argv, const std::vector<std::string>& env, int out, int err,
                   bool group);

// Runs a program to its end (killed after two minutes).
ProcessResult runProcess(const std::vector<std::string>& argv, const std::vector<std::string>& env);

}  // namespace davfp::testing
