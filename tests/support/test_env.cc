#include "support/test_env.h"

#include <cerrno>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "platform/error.h"

namespace davfp::testing {

constexpr std::string_view kDrivesFile = "/drives.json";

TestEnv::TestEnv() : EnvWrapper(platform::Env::standard()) {
  std::filesystem::create_directories(groupPath());
  std::filesystem::create_directories(tmpPath());
}

void TestEnv::publish(std::string_view domain, std::string_view url) {
  nlohmann::json drives;
  drives[std::string(domain)] = {{"name", "Test drive"}, {"url", std::string(url)}};
  target().writeFileAtomically(groupPath() + std::string(kDrivesFile), drives.dump());
}

void TestEnv::unpublish() { std::filesystem::remove(groupPath() + std::string(kDrivesFile)); }

bool TestEnv::waitAtGate(std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mu_);
  return cv_.wait_for(lock, timeout, [this] { return atGate_ > 0; });
}

std::vector<std::string> TestEnv::temporaryFiles() const {
  std::vector<std::string> out;
  for (const auto& e : std::filesystem::directory_iterator(tmpPath())) out.push_back(e.path().string());
  return out;
}

std::optional<std::string> TestEnv::applicationDataDirectory(std::string_view bundleID) {
  if (noDataDirectory) return std::nullopt;
  return dir_.file("data/" + std::string(bundleID));
}

void TestEnv::writeFileAtomically(const std::string& path, std::string_view bytes) {
  if (failWrites) throw platform::posixError(ENOSPC, "write " + path);
  ++writes;
  if (onWrite) onWrite(path);
  target().writeFileAtomically(path, bytes);
}

void TestEnv::removeFile(const std::string& path) {
  target().removeFile(path);
  if (onRemove) onRemove(path);
}

std::optional<std::string> TestEnv::typeForFilenameExtension(std::string_view extension) {
  if (onTypeLookup) onTypeLookup(extension);
  return target().typeForFilenameExtension(extension);
}

std::optional<std::string> TestEnv::groupContainer(std::string_view appGroup) {
  if (appGroup != "org.davfp.shared") return std::nullopt;
  return groupPath();
}

std::string TestEnv::readFile(const std::string& path) {
  if (path.ends_with(kDrivesFile)) {
    std::unique_lock lock(mu_);
    ++drivesReads;
    ++atGate_;
    cv_.notify_all();
    cv_.wait(lock, [this] { return !gateClosed_; });
    --atGate_;
  }
  return target().readFile(path);
}

std::optional<std::string> TestEnv::applicationLocation(std::string_view bundleID) {
  if (!appInstalled || bundleID != "org.davfp.host") return std::nullopt;
  return dir_.file("org.davfp.host.desktop");  // where the host application is "installed"
}

void TestEnv::openApplication(const std::string&, const std::vector<std::string>&) { ++launches; }

}  // namespace davfp::testing
