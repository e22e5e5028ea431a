// TestEnv: the Env of every in-process test of the engine. The shared container, the data directory and the
// temporary directory lie in a private temporary directory, where publish() writes "drives.json" as the host
// application would. Starting the host application is counted instead of done. Reads of "drives.json" are
// counted and can be held at a gate, so that a test can act while a resolution is known to be in progress.
// Whole-file writes are counted, and hooks let a test step into the type lookups and file removals that the
// extension does from its jobs, and switches take the data directory away or make every write fail (a full
// disk) at any point of a test. Thread-safe, except that the hooks are set before anything runs.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/env.h"
#include "support/temp_dir.h"

namespace davfp::testing {

class TestEnv : public platform::EnvWrapper {
 public:
  TestEnv();

  // The private directory, and a path in it for a test's own files.
  std::string root() const { return dir_.path(); }
  std::string file(const std::string& relative) const { return dir_.file(relative); }
  std::string groupPath() const { return dir_.file("group"); }
  std::string tmpPath() const { return dir_.file("tmp"); }

  // Writes "drives.json" (atomically) with one drive: domain -> url.
  void publish(std::string_view domain, std::string_view url);
  void unpublish();

  // Whether the host application is found; how often the engine started it.
  std::atomic<bool> appInstalled{true};
  std::atomic<int> launches{0};
  // Reads of "drives.json".
  std::atomic<int> drivesReads{0};

  // While the gate is closed, reads of "drives.json" wait at it. waitAtGate() blocks until a read waits there
  // (false after timeout).
  void closeGate() {
    std::lock_guard guard(mu_);
    gateClosed_ = true;
  }
  void openGate() {
    std::lock_guard guard(mu_);
    gateClosed_ = false;
    cv_.notify_all();
  }
  bool waitAtGate(std::chrono::milliseconds timeout = std::chrono::seconds(30)) const;

  // The temporary directory's files (downloads land there).
  std::vector<std::string> temporaryFiles() const;

  std::optional<std::string> groupContainer(std::string_view appGroup) override;
  std::optional<std::string> applicationDataDirectory(std::string_view bundleID) override;
  std::string temporaryDirectory() override { return tmpPath(); }
  std::string readFile(const std::string& path) override;
  void writeFileAtomically(const std::string& path, std::string_view bytes) override;
  void removeFile(const std::string& path) override;
  std::optional<std::string> typeForFilenameExtension(std::string_view extension) override;
  std::optional<std::string> applicationLocation(std::string_view bundleID) override;
  void openApplication(const std::string& location, const std::vector<std::string>& arguments) override;

  // Where the state files of the extension go.
  std::string statePath() { return dir_.file("data/org.davfp.host.extension"); }

  // Writes of any file but drives.json: the state file is the only one the engine writes.
  std::atomic<int> writes{0};
  // Called before each counted write (it may hold the write back), each type lookup and after each file
  // removal.
  std::function<void(const std::string& path)> onWrite;
  std::function<void(std::string_view extension)> onTypeLookup;
  std::function<void(const std::string& path)> onRemove;
  // No data directory, every write failing with ENOSPC.
  std::atomic<bool> noDataDirectory{false};
  std::atomic<bool> failWrites{false};

 private:
  TempDir dir_;
  mutable std::mutex mu_;
  mutable std::condition_variable cv_;
  bool gateClosed_ = false;  // guarded by mu_
  int atGate_ = 0;           // guarded by mu_: reads waiting at the gate
};

}  // namespace davfp::testing
