// Workload: the state of a large domain, 100,000 identifiers and 5,000 remembered folders. Starting the
// extension on it (which reads the whole state file), and the save that one write-back request makes (the
// state step after the server accepted a new file, which rewrites the whole file atomically). Baseline: the
// same bytes written to a new file in the same directory with write(2) and flushed with fsync(2), the
// durability every save needs.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <stdexcept>

#include "drive.h"
#include "micro.h"
#include "provider/snapshots.h"
#include "state/state.h"
#include "summary.h"
#include "support/temp_dir.h"
#include "tree.h"
#include "workloads.h"

namespace davfp::bench {

namespace {

constexpr int kFolders = 5000;
constexpr int kFilesPerFolder = 19;  // with the folders themselves, 100,000 identifiers

std::string folderPath(int i) {
  char name[16];
  std::snprintf(name, sizeof name, "/d%04d", i);
  return name;
}

DavEntry entry(std::string path, bool isDir, int i) {
  char etag[40];
  std::snprintf(etag, sizeof etag, "\"%x-5f1a2b%07x\"", 100 + i % 900, i);
  return DavEntry{.path = std::move(path), .isDir = isDir, .size = isDir ? 0 : 100 + i % 900,
                  .modified = std::chrono::system_clock::time_point(std::chrono::seconds(1'700'000'000 + i)),
                  .etag = std::string(etag)};
}

// One save: what browsing every folder leaves behind.
void writeLargeState(BenchDrive& drive) {
  State state(kBenchDomain, drive.env());
  State::Batch batch;
  std::vector<DavEntry> folders;
  std::vector<std::vector<DavEntry>> files(kFolders);  // the views in batch.mint point into them
  for (int f = 0; f < kFolders; ++f) {
    folders.push_back(entry(folderPath(f), true, f));
    for (int i = 0; i < kFilesPerFolder; ++i) {
      files[f].push_back(entry(folderPath(f) + "/" + fileName(i), false, f * kFilesPerFolder + i));
    }
    batch.steps.push_back({State::Step::Kind::remember, folderPath(f), snapshotOf(files[f])});
  }
  batch.steps.push_back({State::Step::Kind::remember, "/", snapshotOf(folders)});
  // The files of each folder, then the folder, as a platform that browsed them all would have asked.
  for (int f = 0; f < kFolders; ++f) {
    for (const auto& file : files[f]) batch.mint.push_back(file.path);
    batch.mint.push_back(batch.steps[f].path);
  }
  state.commit(std::move(batch));
}

void writeAndSync(const std::string& path, const std::string& bytes) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) throw std::runtime_error("cannot create " + path);
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  bool ok = done == bytes.size() && ::fsync(fd) == 0;
  ::close(fd);
  if (!ok) throw std::runtime_error("cannot write " + path);
}

}  // namespace

int stateWorkload(int runs) {
  testing::TempDir work;
  // No server: starting the extension and saving its state never touch the network.
  BenchDrive drive(work.file("home"), "http://127.0.0.1:9/");
  writeLargeState(drive);
  const std::string bytes = testing::readFile(drive.stateFile());
  note("state: " + std::to_string(kFolders * (kFilesPerFolder + 1)) + " identifiers, " +
       std::to_string(kFolders + 1) + " folders, state file " + formatBytes(static_cast<double>(bytes.size())));

  benchmark::RegisterBenchmark("StartExtension", [&](benchmark::State& st) {
    BenchExtension ext;
    for (auto _ : st) {
      st.PauseTiming();
      ext = {};  // tearing the previous one down is not part of a start
      st.ResumeTiming();
      ext = drive.extension();
      benchmark::DoNotOptimize(ext.ext.get());
    }
    if (!ext.state->existingId("/d0000/" + fileName(0))) st.SkipWithError("the extension did not load the state file");
  })->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(0.5);

  auto ext = drive.extension();
  int saves = 0;
  benchmark::RegisterBenchmark("SaveState", [&](benchmark::State& st) {
    for (auto _ : st) {
      // A file the extension has just created in a known folder: recorded, the anchor advanced, all saved.
      DavEntry created = entry("/d0000/new.txt", false, ++saves);
      ext.state->noteChild(created.path, created.version());
    }
  })->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(0.5);

  const std::string plainFile = drive.stateDirectory() + "/plain-write.json";
  benchmark::RegisterBenchmark("PlainWrite", [&](benchmark::State& st) {
    for (auto _ : st) writeAndSync(plainFile, bytes);
  })->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(0.5);

  // For comparison: the same bytes through the engine's own atomic replacement (a new file written and
  // flushed, renamed over the old one, the directory flushed), which every save ends with.
  const std::string atomicFile = drive.stateDirectory() + "/atomic-write.json";
  benchmark::RegisterBenchmark("AtomicWrite", [&](benchmark::State& st) {
    for (auto _ : st) platform::Env::standard().writeFileAtomically(atomicFile, bytes);
  })->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(0.5);

  auto medians = runMicroBenchmarks(runs);
  double start = medians.at("StartExtension").real, save = medians.at("SaveState").real;
  double plain = medians.at("PlainWrite").real;
  double size = static_cast<double>(bytes.size());
  emit(Row{.workload = "5. start the extension on 100,000 identifiers",
           .ours = formatSeconds(start),
           .target = "< 150 ms",
           .pass = start < 0.150});
  emit(Row{.workload = "5. save after one write-back request",
           .ours = formatSeconds(save),
           .target = "< 100 ms",
           .pass = save < 0.100});
  emit(Row{.workload = "5. save rate vs write+fsync of the same bytes",
           .ours = formatRate(size / save),
           .baseline = formatRate(size / plain),
           .ratio = formatRatio(save, plain),
           .target = "<= 3",
           .pass = save <= 3 * plain});
  double atomic = medians.at("AtomicWrite").real;
  emit(Row{.workload = "5. save rate vs the atomic replacement alone",
           .ours = formatRate(size / save),
           .baseline = formatRate(size / atomic),
           .ratio = formatRatio(save, atomic),
           .target = "-",
           .context = true});
  return 0;
}

}  // namespace davfp::bench
