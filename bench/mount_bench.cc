#include "mount_bench.h"

#include <thread>

#include "background.h"
#include "child_process.h"
#include "support/real_server.h"

namespace davfp::bench {

std::string MountBench::url(const std::string& folder) const { return server->baseUrl() + folder + "/"; }

std::vector<MountedFs*> MountBench::all() const {
  std::vector<MountedFs*> out;
  if (ours) out.push_back(ours);
  out.insert(out.end(), peers.begin(), peers.end());
  return out;
}

std::string quoted(const std::string& path) {
  std::string out = "'";
  for (char c : path) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

double timedShell(const std::string& command, const std::string& stdoutPath) {
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(kStepDeadline).count();
  ChildRun run = runChild(ChildSpec{.argv = {"timeout", "-s", "KILL", std::to_string(seconds), "sh", "-c", command},
                                    .stdoutPath = stdoutPath});
  if (run.exitStatus == 124 || run.exitStatus == 137) throw StepTimedOut(command + ": timed out");
  if (run.exitStatus != 0) {
    std::string why = run.errorOutput;
    while (!why.empty() && why.back() == '\n') why.pop_back();
    throw std::runtime_error(command + ": failed: " + why);
  }
  return run.seconds;
}

void awaitStep(const std::string& what, const std::function<bool()>& done) {
  if (!waitUntil(done, kStepDeadline)) throw StepTimedOut(what + ": timed out");
}

void forEachRun(const MountBench& bench, const std::vector<MountedFs*>& fss,
                const std::function<void(MountedFs&)>& body, std::vector<Outcomes*> outcomes) {
  std::map<std::string, bool> hung;
  for (int run = 0; run < bench.runs; ++run) {
    for (MountedFs* fs : fss) {
      if (hung[fs->label()]) continue;
      std::string why;
      try {
        body(*fs);
      } catch (const StepTimedOut& e) {
        why = e.what();
        hung[fs->label()] = true;  // a file system that hung once is not waited for again
      } catch (const std::exception& e) {
        why = e.what();
      }
      if (why.empty()) continue;
      note("  " + fs->label() + ", run " + std::to_string(run + 1) + ": " + why);
      // The step that failed is the first whose figure this run lacks; the steps after it did not run.
      for (Outcomes* o : outcomes) {
        Outcome& outcome = (*o)[fs->label()];
        if (outcome.seconds.size() > static_cast<size_t>(run)) continue;
        outcome.failure = hung[fs->label()] ? "timed out" : "step failed";
        break;
      }
    }
  }
  for (const auto& [label, why] : bench.missing) {
    for (Outcomes* o : outcomes) (*o)[label].failure = "cannot run: " + why;
  }
}

std::string describe(const Outcome& o) {
  if (!o.failure.empty()) return o.failure;
  if (o.seconds.size() == 0) return "not measured";
  return formatSeconds(o.seconds.median());
}

void emitVsPeers(const std::string& what, const Outcomes& o, double factor, const std::string& target,
                 bool context) {
  auto ours = o.find("ours");
  const Outcome* faster = nullptr;
  std::string fasterLabel, others;
  for (const auto& [label, outcome] : o) {
    if (label == "ours" || !outcome.measured()) continue;
    if (!faster || outcome.seconds.median() < faster->seconds.median()) {
      faster = &outcome;
      fasterLabel = label;
    }
  }
  for (const auto& [label, outcome] : o) {
    if (label == "ours" || label == fasterLabel) continue;
    others += (others.empty() ? "" : ", ") + label + " " + describe(outcome);
  }
  Row row{.workload = what, .target = target, .context = context};
  if (ours == o.end() || !ours->second.measured()) {
    row.ours = ours == o.end() ? "not measured" : describe(ours->second);
  } else {
    row.ours = describe(ours->second);
    if (faster) {
      double mine = ours->second.seconds.median(), theirs = faster->seconds.median();
      row.ratio = formatRatio(mine, theirs);
      row.pass = mine <= factor * theirs;
    }
  }
  row.baseline = faster ? fasterLabel + " " + describe(*faster) : std::string("no peer measured");
  if (!others.empty()) row.baseline += " (" + others + ")";
  emit(row);
}

}  // namespace davfp::bench
