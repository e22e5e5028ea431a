// An Env for the state layer's tests: the shared container, the extension's data directory and the
// temporary directory lie in a private temporary directory; whole-file reads and writes are counted, and
// writes can be made to fail (a full disk) at any point of a test. Switches and counters are atomic.
#pragma once

#include <atomic>
#include <cerrno>
#include <string>

#include "platform/env.h"
#include "platform/error.h"
#include "support/temp_dir.h"

namespace davfp::testing {

class StateTestEnv : public platform::EnvWrapper {
 public:
  StateTestEnv() : EnvWrapper(platform::Env::standard()) {}

  std::string groupPath() const { return dir.file("group"); }
  // Where the state files of kAppBundleID's extension go.
  std::string statePath() const { return dir.file("data/org.davfp.host.extension"); }

  std::optional<std::string> groupContainer(std::string_view appGroup) override {
    if (noContainer || appGroup != "org.davfp.shared") return std::nullopt;
    return groupPath();
  }
  std::optional<std::string> applicationDataDirectory(std::string_view bundleID) override {
    if (noDataDirectory) return std::nullopt;
    return dir.file("data/" + std::string(bundleID));
  }
  std::string temporaryDirectory() override { return dir.file("tmp"); }
  std::string readFile(const std::string& path) override {
    ++reads;
    return target().readFile(path);
  }
  void writeFileAtomically(const std::string& path, std::string_view bytes) override {
    if (failWrites) throw platform::posixError(ENOSPC, "write " + path);
    ++writes;
    target().writeFileAtomically(path, bytes);
  }

  TempDir dir;
  std::atomic<bool> noContainer{false};
  std::atomic<bool> noDataDirectory{false};
  std::atomic<bool> failWrites{false};
  std::atomic<int> reads{0};
  std::atomic<int> writes{0};  // successful ones
};

}  // namespace davfp::testing
