// Workload: fetching and writing back a 1 GiB file, whole processes against nginx on loopback. Ours: the
// engine in a process of its own making the platform's requests (fetchContents: an entry lookup, then the
// download into the temporary directory; modifyItem with new contents: a lookup, the PUT, the entry read
// back and the state saved), and, once built, the davfp program (`davfp fetch ID DEST`, `davfp modify ID
// --contents FILE`). Baseline: curl GET into a file, and curl PUT of the file.
#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <stdexcept>

#include "child_process.h"
#include "clients.h"
#include "drive.h"
#include "summary.h"
#include "support/real_server.h"
#include "support/temp_dir.h"
#include "tree.h"
#include "workloads.h"

namespace davfp::bench {

namespace {

constexpr int64_t kFileSize = int64_t{1} << 30;
constexpr double kMemoryLimit = 64.0 * 1024 * 1024;

int64_t sizeOf(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) throw std::runtime_error("missing " + path);
  return st.st_size;
}

ChildRun mustRun(const std::string& what, const ChildSpec& spec) {
  ChildRun run = runChild(spec);
  if (run.exitStatus != 0) throw std::runtime_error(what + " failed: " + run.errorOutput);
  return run;
}

struct Figures {
  Samples seconds, peakBytes;
  void add(const ChildRun& run) {
    seconds.add(run.seconds);
    peakBytes.add(run.peakBytes);
  }
};

// The identifier of the item named name among the JSON lines of an enumeration.
std::string idNamed(const std::string& lines, const std::string& name) {
  size_t at = lines.find("\"name\":\"" + name + "\"");
  if (at == std::string::npos) throw std::runtime_error("no item named " + name + " was listed");
  size_t start = lines.rfind('\n', at);
  start = start == std::string::npos ? 0 : start + 1;
  size_t id = lines.find("\"id\":\"", start);
  if (id == std::string::npos || id > at) throw std::runtime_error("a listed item without an identifier");
  id += 6;
  return lines.substr(id, lines.find('"', id) - id);
}

}  // namespace

int transferWorkload(int runs) {
  testing::TempDir work;
  const std::string root = work.file("root");
  std::filesystem::create_directories(root);
  const std::string served = root + "/big.bin";
  const std::string local = work.file("local.bin");  // the changed file that is written back
  makeFile(served, kFileSize);
  makeFile(local, kFileSize);
  auto server = testing::RealServer::start(testing::ServerKind::nginx, root);
  const std::string url = server->baseUrl() + "big.bin";
  BenchDrive drive(work.file("home"), server->baseUrl());
  const std::string printed = work.file("printed.txt");
  const std::string copy = drive.temporaryDirectory() + "/copy.bin";
  note("transfer: " + formatBytes(kFileSize) + " at " + url);

  // Each program: how it fetches into copy (or prints where it put the file) and how it writes local back.
  struct Program {
    std::string label;
    std::vector<std::string> fetch, writeBack;
    bool printsPath;  // the fetch prints the path of the file it delivered
  };
  std::vector<Program> programs = {
      {"engine process", {selfPath(), "fetch-child", "/big.bin"}, {selfPath(), "upload-child", "/big.bin", local},
       true}};
  if (std::string davfp = davfpProgram(); !davfp.empty()) {
    mustRun("davfp enumerate", ChildSpec{.argv = {davfp, "enumerate", "root"},
                                         .extraEnv = drive.childEnvironment(),
                                         .stdoutPath = printed});
    std::string id = idNamed(testing::readFile(printed), "big.bin");
    programs.push_back({"davfp", {davfp, "fetch", id, copy}, {davfp, "modify", id, "--contents", local}, false});
  } else {
    note("transfer: the davfp program is not built; measuring the engine process only");
  }

  // curl is one more program here; each run starts with another one, so that the writing-back of the run
  // before (the server flushing a gigabyte) does not always fall on the same program.
  programs.insert(programs.begin(), Program{"curl", {"curl", "-s", "-f", "-o", copy, url},
                                            {"curl", "-s", "-f", "-o", "/dev/null", "-T", local, url}, false});
  std::map<std::string, Figures> fetches, writeBacks;
  for (int run = 0; run < runs; ++run) {
    std::string fetchLine, writeLine;
    for (size_t k = 0; k < programs.size(); ++k) {
      const Program& p = programs[(k + static_cast<size_t>(run)) % programs.size()];
      ChildRun ours = mustRun(p.label + " fetch", ChildSpec{.argv = p.fetch,
                                                           .extraEnv = drive.childEnvironment(),
                                                           .stdoutPath = printed});
      fetches[p.label].add(ours);
      std::string fetched = copy;
      if (p.printsPath) {
        fetched = testing::readFile(printed);
        while (!fetched.empty() && fetched.back() == '\n') fetched.pop_back();
      }
      if (sizeOf(fetched) != kFileSize) throw std::runtime_error(p.label + " delivered a file of the wrong size");
      std::filesystem::remove(fetched);
      fetchLine += ", " + p.label + " " + formatSeconds(ours.seconds);
    }
    for (size_t k = 0; k < programs.size(); ++k) {
      const Program& p = programs[(k + static_cast<size_t>(run)) % programs.size()];
      ChildRun ours = mustRun(p.label + " write-back", ChildSpec{.argv = p.writeBack,
                                                                 .extraEnv = drive.childEnvironment()});
      writeBacks[p.label].add(ours);
      if (sizeOf(served) != kFileSize) throw std::runtime_error(p.label + " stored a file of the wrong size");
      writeLine += ", " + p.label + " " + formatSeconds(ours.seconds);
    }
    note("  run " + std::to_string(run + 1) + ": GET" + fetchLine.substr(1) + "; PUT" + writeLine.substr(1));
  }
  programs.erase(programs.begin());

  for (const auto& p : programs) {
    for (auto* kind : {&fetches, &writeBacks}) {
      const Figures& ours = kind->at(p.label);
      const Figures& curl = kind->at("curl");
      double o = ours.seconds.median(), c = curl.seconds.median();
      emit(Row{.workload = std::string("4. ") + (kind == &fetches ? "fetch" : "write back") + " 1 GiB, " + p.label,
               .ours = formatSeconds(o) + " (" + formatRate(kFileSize / o) + ")",
               .baseline = "curl " + formatSeconds(c),
               .ratio = formatRatio(o, c),
               .target = "<= 1.1",
               .pass = o <= 1.1 * c});
    }
    double peak = std::max(fetches.at(p.label).peakBytes.max(), writeBacks.at(p.label).peakBytes.max());
    double curlPeak = std::max(fetches.at("curl").peakBytes.max(), writeBacks.at("curl").peakBytes.max());
    emit(Row{.workload = "4. peak memory, fetch and write back 1 GiB, " + p.label,
             .ours = formatBytes(peak),
             .baseline = "curl " + formatBytes(curlPeak),
             .ratio = formatRatio(peak, curlPeak),
             .target = "< 64 MiB",
             .pass = peak < kMemoryLimit});
  }
  return 0;
}

}  // namespace davfp::bench
