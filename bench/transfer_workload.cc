// Workload: fetching and writing back a 1 GiB file, whole processes against nginx on loopback. Ours: the
// engine in a process of its own fetching the file through the platform's fetchContents request (an entry
// lookup, then the download into the temporary directory), and sending it back with the client's upload
// (the PUT that writing back a file's contents makes). Baseline: curl GET into a file and curl PUT of the file.
#include <sys/stat.h>

#include <filesystem>
#include <stdexcept>

#include "child_process.h"
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

void emitPair(const std::string& what, const Figures& ours, const Figures& curl) {
  emit(Row{.workload = "4. " + what + " 1 GiB",
           .ours = formatSeconds(ours.seconds.median()) + " (" + formatRate(kFileSize / ours.seconds.median()) + ")",
           .baseline = "curl " + formatSeconds(curl.seconds.median()),
           .ratio = formatRatio(ours.seconds.median(), curl.seconds.median()),
           .target = "<= 1.1",
           .pass = ours.seconds.median() <= 1.1 * curl.seconds.median()});
  emit(Row{.workload = "4. peak memory, " + what + " 1 GiB",
           .ours = formatBytes(ours.peakBytes.max()),
           .baseline = "curl " + formatBytes(curl.peakBytes.max()),
           .ratio = formatRatio(ours.peakBytes.max(), curl.peakBytes.max()),
           .target = "< 64 MiB",
           .pass = ours.peakBytes.max() < kMemoryLimit});
}

}  // namespace

int transferWorkload(int runs) {
  testing::TempDir work;
  const std::string root = work.file("root");
  std::filesystem::create_directories(root);
  const std::string source = root + "/big.bin";
  makeFile(source, kFileSize);
  auto server = testing::RealServer::start(testing::ServerKind::nginx, root);
  BenchDrive drive(work.file("home"), server->baseUrl());
  const std::string printed = work.file("fetched.txt");
  const std::string curlCopy = drive.temporaryDirectory() + "/curl-copy.bin";
  note("transfer: " + formatBytes(kFileSize) + " at " + server->baseUrl() + "big.bin");

  Figures fetchOurs, fetchCurl, uploadOurs, uploadCurl;
  for (int run = 0; run < runs; ++run) {
    ChildRun getCurl = mustRun("curl GET", ChildSpec{.argv = {"curl", "-s", "-f", "-o", curlCopy, server->baseUrl() + "big.bin"}});
    fetchCurl.add(getCurl);
    if (sizeOf(curlCopy) != kFileSize) throw std::runtime_error("curl fetched a file of the wrong size");
    std::filesystem::remove(curlCopy);

    ChildRun getOurs = mustRun("fetch", ChildSpec{.argv = {selfPath(), "fetch-child", "/big.bin"},
                                             .extraEnv = drive.childEnvironment(),
                                             .stdoutPath = printed});
    fetchOurs.add(getOurs);
    std::string fetched = testing::readFile(printed);
    while (!fetched.empty() && fetched.back() == '\n') fetched.pop_back();
    if (sizeOf(fetched) != kFileSize) throw std::runtime_error("the fetch delivered a file of the wrong size");
    std::filesystem::remove(fetched);

    ChildRun putCurl = mustRun("curl PUT", ChildSpec{.argv = {"curl", "-s", "-f", "-o", "/dev/null", "-T", source,
                                                          server->baseUrl() + "up-curl.bin"}});
    uploadCurl.add(putCurl);
    ChildRun putOurs = mustRun("upload", ChildSpec{.argv = {selfPath(), "upload-child", "/up-ours.bin", source},
                                               .extraEnv = drive.childEnvironment()});
    uploadOurs.add(putOurs);
    if (sizeOf(root + "/up-ours.bin") != kFileSize || sizeOf(root + "/up-curl.bin") != kFileSize) {
      throw std::runtime_error("an upload stored a file of the wrong size");
    }
    note("  run " + std::to_string(run + 1) + ": GET curl " + formatSeconds(getCurl.seconds) + ", ours " +
         formatSeconds(getOurs.seconds) + "; PUT curl " + formatSeconds(putCurl.seconds) + ", ours " +
         formatSeconds(putOurs.seconds));
  }
  emitPair("fetch", fetchOurs, fetchCurl);
  emitPair("write back", uploadOurs, uploadCurl);
  return 0;
}

}  // namespace davfp::bench
