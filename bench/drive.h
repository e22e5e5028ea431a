// BenchDrive: a private home for the benchmarks' one domain, "bench", published at a given URL.
//
// It holds the shared container (with drives.json), the extension's data directory (with the state file) and a
// temporary directory, all inside a directory of the benchmark's own. In-process workloads create extensions
// with env(), which forwards to the standard Env with those locations and counts the state file's writes;
// child processes get the same locations through childEnvironment(). Use from one thread at a time, except
// env(), which the engine uses from its jobs.
#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <string>

#include "dav/dav.h"
#include "platform/env.h"
#include "provider/extension.h"
#include "state/state.h"

namespace davfp::bench {

inline constexpr const char* kBenchDomain = "bench";

// An extension of the domain with its client and state, which the workloads look into. Used as a pointer to
// the extension.
struct BenchExtension {
  std::shared_ptr<Dav> dav;
  std::shared_ptr<State> state;
  std::shared_ptr<FileProviderExtension> ext;

  FileProviderExtension& operator*() const { return *ext; }
  FileProviderExtension* operator->() const { return ext.get(); }
};

// A new extension of the domain on env.
BenchExtension makeExtension(platform::Env& env);

class BenchDrive {
 public:
  // Creates the directories under dir and publishes url as the domain's drive.
  BenchDrive(const std::string& dir, const std::string& url);
  ~BenchDrive();
  BenchDrive(const BenchDrive&) = delete;
  BenchDrive& operator=(const BenchDrive&) = delete;

  platform::Env& env();
  // A new extension of the domain on env().
  BenchExtension extension();

  // XDG_DATA_HOME, XDG_STATE_HOME and TMPDIR for a child process that uses the standard Env.
  std::map<std::string, std::string> childEnvironment() const;
  // Where the state file of the domain lies, and its name.
  const std::string& stateDirectory() const { return stateDir_; }
  std::string stateFile() const;
  const std::string& temporaryDirectory() const { return tmpDir_; }

  // Removes the state file: the next extension starts fresh.
  void forgetState();
  // Writes of the state file through env() so far.
  long stateWrites() const;

 private:
  class CountingEnv;

  std::string dataHome_, stateHome_, stateDir_, tmpDir_;
  std::unique_ptr<CountingEnv> env_;
};

}  // namespace davfp::bench
