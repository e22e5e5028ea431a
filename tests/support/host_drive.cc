#include "support/host_drive.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>

namespace davfp::testing {

namespace fs = std::filesystem;

namespace {

std::vector<std::string> joined(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

}  // namespace

std::string davfpProgram() {
#ifdef DAVFP_BINARY
  return DAVFP_BINARY;
#else
  return "davfp";
#endif
}

std::string hostAppProgram() { return DAVFP_HOST_APP; }

std::string whyNoKernelMount() {
  if (::geteuid() != 0) return "not root";
  if (::access("/dev/fuse", R_OK | W_OK) != 0) return "no usable /dev/fuse";
  if (::access("/usr/bin/fusermount3", X_OK) != 0) return "no fusermount3 (Debian package fuse3)";
  return {};
}

HostDrive::HostDrive() {
  // A server that drops root must reach the served folder: TempDir is private (0700) by default.
  ::chmod(tmp_.path().c_str(), 0755);
  home_ = tmp_.file("home");
  served_ = tmp_.file("served");
  scratch_ = tmp_.file("scratch");
  for (const auto& dir : {home_, served_, scratch_, tmp_.file("tmp")}) fs::create_directories(dir);
}

void HostDrive::serve(ServerKind kind) {
  server_ = RealServer::start(kind, served_);
  publish({{kTestDomain, {kTestDriveName, server_->baseUrl()}}});
}

void HostDrive::publish(const std::map<std::string, std::pair<std::string, std::string>>& drives) {
  nlohmann::json file = nlohmann::json::object();
  for (const auto& [domain, drive] : drives) file[domain] = {{"name", drive.first}, {"url", drive.second}};
  fs::create_directories(fs::path(drivesFile()).parent_path());
  writeFile(drivesFile(), file.dump());
}

std::vector<std::string> HostDrive::environment() const {
  return {"HOME=" + home_,
          "XDG_DATA_HOME=" + dataHome(),
          "XDG_STATE_HOME=" + stateHome(),
          "XDG_CONFIG_HOME=" + home_ + "/.config",
          "XDG_DATA_DIRS=/usr/local/share:/usr/share",
          "PATH=/usr/local/bin:/usr/bin:/bin",
          "TMPDIR=" + tmp_.file("tmp"),
          "TZ=UTC",
          "LANG=C.UTF-8"};
}

ProcessResult HostDrive::davfp(const std::vector<std::string>& args,
                               const std::vector<std::string>& moreEnv) const {
  return runProcess(joined({davfpProgram()}, args), joined(environment(), moreEnv));
}

std::string HostDrive::ok(const std::vector<std::string>& args) const {
  ProcessResult r = davfp(args);
  EXPECT_EQ(r.status, 0) << ::testing::PrintToString(args) << "\nstdout: " << r.out << "\nstderr: " << r.err;
  return r.out;
}

ProcessResult HostDrive::host(const std::vector<std::string>& args, const std::vector<std::string>& moreEnv) const {
  return runProcess(joined({hostAppProgram()}, args), joined(environment(), moreEnv));
}

std::unique_ptr<ChildProcess> HostDrive::startDavfp(const std::vector<std::string>& args) const {
  return ChildProcess::start(joined({davfpProgram()}, args), environment());
}

std::map<std::string, std::string> treeOf(const std::string& dir) {
  std::map<std::string, std::string> tree;
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    tree[fs::relative(entry.path(), dir).string()] = entry.is_directory() ? "<dir>" : readFile(entry.path().string());
  }
  return tree;
}

void runSteps(const HostDrive& drive, const std::vector<Step>& steps) {
  for (const auto& step : steps) {
    SCOPED_TRACE("davfp " + ::testing::PrintToString(step.args));
    ProcessResult r = drive.davfp(step.args);
    EXPECT_EQ(r.status, step.status) << "stdout: " << r.out << "\nstderr: " << r.err;
    if (step.out) {
      EXPECT_EQ(r.out, *step.out);
    }
    EXPECT_NE(r.err.find(step.err), std::string::npos) << r.err;
  }
}

std::map<std::string, std::string> HostDrive::stateFiles() const {
  std::map<std::string, std::string> files;
  std::string dir = stateHome() + "/org.davfp.host.extension";
  if (!fs::is_directory(dir)) return files;
  for (const auto& entry : fs::directory_iterator(dir)) {
    // A drive's lock file holds no state, only the id of the process that used the drive last.
    if (entry.path().extension() == ".lock") continue;
    files[entry.path().filename()] = readFile(entry.path());
  }
  return files;
}

void HostDrive::placeOnServer(const std::string& relative, const std::string& bytes) {
  fs::path path = fs::path(served_) / relative;
  fs::create_directories(path.parent_path());
  writeFile(path.string(), bytes);
  if (server_) server_->adopt(path.string());
}

std::vector<nlohmann::json> jsonLines(const std::string& out) {
  std::vector<nlohmann::json> lines;
  std::istringstream in(out);
  std::string line;
  while (std::getline(in, line)) {
    try {
      lines.push_back(nlohmann::json::parse(line));
    } catch (const nlohmann::json::exception& e) {
      ADD_FAILURE() << "not a JSON line: " << line << " (" << e.what() << ")";
    }
  }
  return lines;
}

}  // namespace davfp::testing
