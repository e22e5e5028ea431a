// Workload: listing a folder of 10,000 and of 100,000 files for the first time, as whole processes against
// nginx on loopback: the engine in a process of its own (davfp-bench enumerate-child, the platform's side
// played in a few lines, items printed as JSON lines) and, once built, the davfp program (`davfp enumerate
// root`); each on a fresh state file, whose writes are counted. Baselines: curl sending the same PROPFIND and
// discarding the body, and rclone listing the folder through its WebDAV backend.
#include <algorithm>
#include <filesystem>
#include <stdexcept>

#include "child_process.h"
#include "clients.h"
#include "drive.h"
#include "state_writes.h"
#include "summary.h"
#include "support/real_server.h"
#include "support/temp_dir.h"
#include "tree.h"
#include "workloads.h"

namespace davfp::bench {

namespace {

using testing::RealServer;
using testing::ServerKind;

struct Figures {
  Samples seconds;
  Samples peakBytes;
  Samples stateWrites;
};

long countLines(const std::string& path) {
  std::string text = testing::readFile(path);
  return static_cast<long>(std::count(text.begin(), text.end(), '\n'));
}

// One run of a client. With a drive, the run starts on a fresh state file whose writes are counted, and must
// print one line per file.
void measureOnce(const std::string& what, const ChildSpec& spec, BenchDrive* drive, StateWriteWatch* watch,
                 long files, Figures& out) {
  long writesBefore = 0;
  if (drive) {
    drive->forgetState();
    writesBefore = watch->count();
  }
  ChildRun run = runChild(spec);
  if (run.exitStatus != 0) throw std::runtime_error(what + " failed: " + run.errorOutput);
  if (drive && countLines(spec.stdoutPath) != files) {
    throw std::runtime_error(what + " did not print one line per file");
  }
  out.seconds.add(run.seconds);
  out.peakBytes.add(run.peakBytes);
  if (drive) out.stateWrites.add(static_cast<double>(watch->count() - writesBefore));
}

void describe(const std::string& what, const Figures& f, bool counted) {
  note("  " + what + ": median " + formatSeconds(f.seconds.median()) + ", peak " + formatBytes(f.peakBytes.max()) +
       (counted ? ", state writes " + std::to_string(static_cast<long>(f.stateWrites.max())) : ""));
}

struct FolderFigures {
  long files;
  std::map<std::string, Figures> ours;  // by program label
  Figures curl, rclone;
};

std::string thousands(long n) {
  std::string digits = std::to_string(n), out;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return out;
}

}  // namespace

int listingWorkload(int runs) {
  testing::TempDir work;
  const std::string root = work.file("root");
  const std::vector<long> sizes = {10'000, 100'000};
  for (long files : sizes) makeFolder(root + "/f" + std::to_string(files), static_cast<int>(files));
  auto server = RealServer::start(ServerKind::nginx, root);
  const std::string bodyFile = work.file("propfind.xml");
  testing::writeFile(bodyFile, std::string(kPropfindBody));
  const std::string rcloneConfig = work.file("rclone.conf");
  testing::writeFile(rcloneConfig, "");
  const std::string output = work.file("items.jsonl");

  std::vector<std::pair<std::string, std::vector<std::string>>> programs = {
      {"engine process", {selfPath(), "enumerate-child", "root"}}};
  if (std::string davfp = davfpProgram(); !davfp.empty()) {
    programs.push_back({"davfp enumerate", {davfp, "enumerate", "root"}});
  } else {
    note("listing: the davfp program is not built; measuring the engine process only");
  }

  std::vector<FolderFigures> figures;
  for (long files : sizes) {
    std::string name = "f" + std::to_string(files);
    std::string url = server->baseUrl() + name + "/";
    note("listing: " + thousands(files) + " files at " + url);
    FolderFigures f{.files = files};
    struct Client {
      std::string label;
      ChildSpec spec;
      std::unique_ptr<BenchDrive> drive;
      std::unique_ptr<StateWriteWatch> watch;
      Figures* figures;
    };
    std::vector<Client> clients;
    for (const auto& [label, argv] : programs) {
      auto drive = std::make_unique<BenchDrive>(work.file("home-" + name + "-" + std::to_string(clients.size())), url);
      auto watch = std::make_unique<StateWriteWatch>(drive->stateDirectory(),
                                                     std::filesystem::path(drive->stateFile()).filename());
      ChildSpec spec{.argv = argv, .extraEnv = drive->childEnvironment(), .stdoutPath = output};
      clients.push_back({label, spec, std::move(drive), std::move(watch), &f.ours[label]});
    }
    clients.push_back({"curl", ChildSpec{.argv = curlPropfind(url, 1, bodyFile)}, nullptr, nullptr, &f.curl});
    clients.push_back({"rclone lsjson",
                       ChildSpec{.argv = rcloneLsjson(url, rcloneConfig, work.file("rclone-cache"))}, nullptr,
                       nullptr, &f.rclone});
    // Runs interleaved, so that a busy moment of the machine falls on every client alike.
    for (int run = 0; run < runs; ++run) {
      for (auto& c : clients) measureOnce(c.label, c.spec, c.drive.get(), c.watch.get(), files, *c.figures);
    }
    for (const auto& c : clients) describe(c.label, *c.figures, c.drive != nullptr);
    figures.push_back(std::move(f));
  }

  for (const auto& [label, argv] : programs) {
    for (const auto& f : figures) {
      std::string what = "2. list " + thousands(f.files) + " files, " + label;
      double ours = f.ours.at(label).seconds.median();
      double curl = f.curl.seconds.median(), rclone = f.rclone.seconds.median();
      emit(Row{.workload = what + " vs curl",
               .ours = formatSeconds(ours),
               .baseline = "curl " + formatSeconds(curl),
               .ratio = formatRatio(ours, curl),
               .target = "<= 2",
               .pass = ours <= 2 * curl});
      emit(Row{.workload = what + " vs rclone",
               .ours = formatSeconds(ours),
               .baseline = "rclone " + formatSeconds(rclone),
               .ratio = formatRatio(ours, rclone),
               .target = "<= 0.143 (7x faster)",
               .pass = ours * 7 <= rclone});
    }
    const Figures& small = figures.front().ours.at(label);
    const Figures& large = figures.back().ours.at(label);
    emit(Row{.workload = "2. list 100,000 / 10,000 files, " + label,
             .ours = formatSeconds(large.seconds.median()),
             .baseline = "10,000: " + formatSeconds(small.seconds.median()),
             .ratio = formatRatio(large.seconds.median(), small.seconds.median()),
             .target = "<= 11 (linear)",
             .pass = large.seconds.median() <= 11 * small.seconds.median()});
    constexpr double kMemoryLimit = 64.0 * 1024 * 1024;
    emit(Row{.workload = "2. peak memory, list 100,000 files, " + label,
             .ours = formatBytes(large.peakBytes.max()),
             .baseline = "rclone " + formatBytes(figures.back().rclone.peakBytes.max()),
             .ratio = formatRatio(large.peakBytes.max(), figures.back().rclone.peakBytes.max()),
             .target = "< 64 MiB",
             .pass = large.peakBytes.max() < kMemoryLimit});
    double writes = std::max(small.stateWrites.max(), large.stateWrites.max());
    emit(Row{.workload = "2. state file writes per listing, " + label,
             .ours = std::to_string(static_cast<long>(writes)),
             .target = "<= 3",
             .pass = writes <= 3});
  }
  return 0;
}

}  // namespace davfp::bench
