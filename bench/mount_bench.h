// What the mount workloads share: the served folder and its server, the file systems compared, timed shell
// steps with a deadline, and the runs interleaved between file systems. Used from one thread.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "mounts.h"
#include "summary.h"

namespace davfp::testing {
class RealServer;
}

namespace davfp::bench {

// How long one step (a program run, or waiting for the server to hold what was written) may take before
// the file system counts as hung.
inline constexpr auto kStepDeadline = std::chrono::minutes(10);

struct MountBench {
  std::string work;                  // the workload's private folder
  std::string root;                  // the served folder
  testing::RealServer* server;       // nginx serving root
  OurMount* ours;                    // null when our mount cannot run here
  std::vector<MountedFs*> peers;     // the peers that can run here
  std::map<std::string, std::string> missing;  // the file systems that cannot run here: label -> why
  int runs;

  // The URL of a folder of root.
  std::string url(const std::string& folder) const;
  // Ours first, then the peers.
  std::vector<MountedFs*> all() const;
};

// A step that did not end within its deadline.
struct StepTimedOut : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Runs `sh -c command` to its end (kStepDeadline at most), stdout to stdoutPath; returns its seconds.
// Throws StepTimedOut, or std::runtime_error when it fails.
double timedShell(const std::string& command, const std::string& stdoutPath = "/dev/null");
// A path quoted for sh.
std::string quoted(const std::string& path);
// Waits every 20 ms until done answers true; throws StepTimedOut (naming what) after kStepDeadline.
void awaitStep(const std::string& what, const std::function<bool()>& done);

// A file system mounted for the guard's lifetime (on an empty cache), unmounted however the scope ends.
class Mounted {
 public:
  Mounted(MountedFs& fs, const std::string& url, int pollSeconds = 10) : fs_(fs) { fs_.mount(url, pollSeconds); }
  ~Mounted() { fs_.unmount(); }
  Mounted(const Mounted&) = delete;
  Mounted& operator=(const Mounted&) = delete;

 private:
  MountedFs& fs_;
};

// One quantity measured on each file system: its samples, or why it could not be measured.
struct Outcome {
  Samples seconds;
  std::string failure;  // "step failed", "timed out", "cannot run: ..." (in any run); empty when measured
  bool measured() const { return failure.empty() && seconds.size() > 0; }
};
using Outcomes = std::map<std::string, Outcome>;  // by file system label

// Runs body runs times on each of fss in turn (interleaved, so that a busy moment of the machine falls on
// every file system alike), each time on a fresh mount that body makes. When body throws, the first of
// outcomes (in order) that lacks this run's figure of that file system says why (failed, timed out); a file
// system that timed out is left out of the later runs. Outcomes of file systems that cannot run here say so.
void forEachRun(const MountBench& bench, const std::vector<MountedFs*>& fss,
                const std::function<void(MountedFs&)>& body, std::vector<Outcomes*> outcomes);

// "1.23 s", or why it was not measured.
std::string describe(const Outcome& o);
// The row "what": ours against the faster of the peers (all of them listed in the baseline), passing when
// ours <= factor x the faster peer's median; with context, a row for comparison only.
void emitVsPeers(const std::string& what, const Outcomes& o, double factor, const std::string& target,
                 bool context = false);

}  // namespace davfp::bench

namespace davfp::bench {

// The workloads, each on a folder of root of its own (see their files).
void firstLookRows(const MountBench& bench);     // a tree of 10,000 files, cold and warm
void bigFileRows(const MountBench& bench);       // reading 1 GiB, dataless and then local
void writeBackRows(const MountBench& bench);      // writing 1 GiB until the server has it
void smallFilesRows(const MountBench& bench);    // tar x and rm -r of 2,000 small files
void remoteChangeRows(const MountBench& bench);  // how soon a change on the server is seen
void memoryRows(const MountBench& bench);        // memory and journal size at 100,000 files
void pinRows(const MountBench& bench);           // pinning a folder of 1,000 files

}  // namespace davfp::bench
