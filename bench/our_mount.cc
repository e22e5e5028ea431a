// OurMount: the davfp program's mount, run in the foreground as a child of the benchmark so that its
// process is at hand (its memory, its end after unmounting).
#include <unistd.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "background.h"
#include "child_process.h"
#include "drive.h"
#include "mounts.h"
#include "support/temp_dir.h"

namespace davfp::bench {

namespace fs = std::filesystem;

OurMount::OurMount(const std::string& dir, std::string program)
    : MountedFs("ours", dir), program_(std::move(program)), home_(dir + "/home") {}

OurMount::~OurMount() { unmount(); }

std::string OurMount::unavailable() const {
  if (program_.empty()) return "the davfp program is not built";
  return whyNoMount();
}

std::map<std::string, std::string> OurMount::environment() const {
  auto env = drive_->childEnvironment();
  env["HOME"] = home_;
  env["XDG_CACHE_HOME"] = home_ + "/cache";
  return env;
}

void OurMount::mount(const std::string& url, int pollSeconds) {
  // A cold start: no replica, no journal, no state file.
  removeTree(home_ + "/cache");
  drive_ = std::make_unique<BenchDrive>(home_, url);
  drive_->forgetState();
  process_ = std::make_unique<Background>(
      std::vector<std::string>{program_, "--domain", kBenchDomain, "mount", mountpoint_, "--foreground", "--poll",
                               std::to_string(pollSeconds)},
      environment(), log_);
  awaitMounted(process_.get());
}

void OurMount::unmount() {
  if (!process_) return;
  release({"fusermount3", "-u", mountpoint_}, process_.get(), -1);
  process_.reset();
}

pid_t OurMount::process() const { return process_ ? process_->pid() : -1; }

OurMount::Status OurMount::status() {
  const std::string out = dir_ + "/status.json";
  ChildRun run = runChild(ChildSpec{.argv = {program_, "--domain", kBenchDomain, "status", "--json"},
                                    .extraEnv = environment(),
                                    .stdoutPath = out});
  if (run.exitStatus != 0) throw std::runtime_error("davfp status failed: " + run.errorOutput);
  auto json = nlohmann::json::parse(testing::readFile(out));
  return Status{.pending = json.at("pending").get<long>(),
                .items = json.at("items").get<long>(),
                .replica = json.at("replica").get<std::string>()};
}

bool OurMount::settled() { return status().pending == 0; }

std::string OurMount::contentsFolder() { return status().replica + "/contents"; }

double OurMount::command(const std::vector<std::string>& args) {
  std::vector<std::string> argv = {program_, "--domain", kBenchDomain};
  argv.insert(argv.end(), args.begin(), args.end());
  ChildRun run = runChild(ChildSpec{.argv = argv, .extraEnv = environment()});
  if (run.exitStatus != 0) throw std::runtime_error("davfp " + args.front() + " failed: " + run.errorOutput);
  return run.seconds;
}

double OurMount::journalBytes() {
  const std::string journal = status().replica + "/journal.db";
  double bytes = 0;
  for (const auto& path : {journal, journal + "-wal"}) {
    std::error_code ec;
    auto size = fs::file_size(path, ec);
    if (!ec) bytes += static_cast<double>(size);
  }
  return bytes;
}

}  // namespace davfp::bench
