#include "drive.h"

#include <filesystem>
#include <fstream>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "dav/drive_config.h"
#include "platform/app_identity.h"
#include "state/state_file.h"

namespace davfp::bench {

namespace fs = std::filesystem;

class BenchDrive::CountingEnv final : public platform::EnvWrapper {
 public:
  explicit CountingEnv(const BenchDrive& drive) : EnvWrapper(platform::Env::standard()), drive_(drive) {}

  std::optional<std::string> groupContainer(std::string_view appGroup) override {
    return platform::joinPath(drive_.dataHome_, appGroup);
  }
  std::optional<std::string> applicationDataDirectory(std::string_view bundleID) override {
    return platform::joinPath(drive_.stateHome_, bundleID);
  }
  std::string temporaryDirectory() override { return drive_.tmpDir_; }
  void writeFileAtomically(const std::string& path, std::string_view bytes) override {
    target().writeFileAtomically(path, bytes);
    writes_.fetch_add(1);
  }

  long writes() const { return writes_.load(); }

 private:
  const BenchDrive& drive_;
  std::atomic<long> writes_{0};
};

BenchDrive::BenchDrive(const std::string& dir, const std::string& url)
    : dataHome_(dir + "/data"),
      stateHome_(dir + "/state"),
      stateDir_(platform::joinPath(stateHome_, std::string(platform::kAppBundleID) + ".extension")),
      tmpDir_(dir + "/tmp"),
      env_(std::make_unique<CountingEnv>(*this)) {
  std::string container = platform::joinPath(dataHome_, platform::kAppGroup);
  for (const auto& d : {container, stateDir_, tmpDir_}) fs::create_directories(d);
  nlohmann::json drives = {{kBenchDomain, {{"name", "Bench"}, {"url", url}}}};
  std::ofstream out(platform::joinPath(container, kDrivesFileName));
  out << drives.dump();
  if (!out) throw std::runtime_error("cannot write drives.json");
}

BenchDrive::~BenchDrive() = default;

platform::Env& BenchDrive::env() { return *env_; }

BenchExtension makeExtension(platform::Env& env) {
  BenchExtension made;
  made.dav = Dav::create(kBenchDomain, env);
  made.state = std::make_shared<State>(kBenchDomain, env);
  made.ext =
      FileProviderExtension::create(platform::Domain{kBenchDomain, "Bench"}, made.dav, made.state, env);
  return made;
}

BenchExtension BenchDrive::extension() { return makeExtension(*env_); }

std::map<std::string, std::string> BenchDrive::childEnvironment() const {
  return {{"XDG_DATA_HOME", dataHome_}, {"XDG_STATE_HOME", stateHome_}, {"TMPDIR", tmpDir_}};
}

std::string BenchDrive::stateFile() const { return platform::joinPath(stateDir_, stateFileName(kBenchDomain)); }

void BenchDrive::forgetState() { fs::remove(stateFile()); }

long BenchDrive::stateWrites() const { return env_->writes(); }

}  // namespace davfp::bench
