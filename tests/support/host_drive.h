// A drive for the davfp program's integration tests: a private home (HOME and the XDG directories under a
// temporary directory), a folder served by a real WebDAV server (rclone) on a loopback port, and drives.json
// publishing it as the domain "t" named "Test Drive". davfp() runs the program as a separate process in that
// home. Snapshots of the served folder and of the engine's state tell whether a command changed anything.
// Use from the test's own thread.
#pragma once

#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "support/host_process.h"
#include "support/real_server.h"
#include "support/temp_dir.h"

namespace davfp::testing {

inline constexpr const char* kTestDomain = "t";
inline constexpr const char* kTestDriveName = "Test Drive";

// Every file and folder under a local folder: relative path -> contents ("<dir>" for a folder).
std::map<std::string, std::string> treeOf(const std::string& dir);

class HostDrive {
 public:
  // Makes the home and the served folder (empty); serve() starts the server.
  HostDrive();

  const std::string& home() const { return home_; }
  // The served folder: what the server holds, to be read and changed behind its back.
  const std::string& served() const { return served_; }
  // A scratch folder for local files.
  const std::string& scratch() const { return scratch_; }
  std::string dataHome() const { return home_ + "/.local/share"; }
  std::string stateHome() const { return home_ + "/.local/state"; }
  std::string drivesFile() const { return dataHome() + "/org.davfp.shared/drives.json"; }

  // Starts the server (rclone unless told) and publishes it as the test domain.
  void serve(ServerKind kind = ServerKind::rclone);
  RealServer& server() { return *server_; }
  // Writes drives.json: domain -> {name, url}.
  void publish(const std::map<std::string, std::pair<std::string, std::string>>& drives);

  // The environment of the programs: only the private home's locations, a plain PATH, UTC.
  std::vector<std::string> environment() const;

  // Runs davfp with these arguments, and these variables added to the environment.
  ProcessResult davfp(const std::vector<std::string>& args,
                      const std::vector<std::string>& moreEnv = {}) const;
  // Runs davfp, which must succeed, and returns its stdout.
  std::string ok(const std::vector<std::string>& args) const;
  // Runs the host application with these variables added to the environment.
  ProcessResult host(const std::vector<std::string>& args, const std::vector<std::string>& moreEnv = {}) const;
  std::unique_ptr<ChildProcess> startDavfp(const std::vector<std::string>& args) const;

  // Every file and folder under the served folder: relative path -> contents ("<dir>" for a folder).
  std::map<std::string, std::string> serverTree() const { return treeOf(served_); }
  // Every state file of the engine's state directory (not the drives' lock files): name -> contents.
  std::map<std::string, std::string> stateFiles() const;

  // Creates a file (and its folders) in the served folder behind the server's back.
  void placeOnServer(const std::string& relative, const std::string& bytes);

 private:
  TempDir tmp_;
  std::string home_, served_, scratch_;
  std::unique_ptr<RealServer> server_;
};

// One command of a sequence and what it must give: its status, its whole stdout (unless absent) and a part
// of its stderr (unless empty).
struct Step {
  std::vector<std::string> args;
  int status = 0;
  std::optional<std::string> out;
  std::string err;
};
// Runs the steps in order; a failure names the step.
void runSteps(const HostDrive& drive, const std::vector<Step>& steps);

// stdout's lines as JSON values; fails the test for a line that is not JSON.
std::vector<nlohmann::json> jsonLines(const std::string& out);

// Why this machine cannot mount a drive through the kernel (root, /dev/fuse and fusermount3 are needed);
// empty when it can.
std::string whyNoKernelMount();

// The path of the davfp program that the build made.
std::string davfpProgram();
// The path of the host application script in the source tree.
std::string hostAppProgram();

}  // namespace davfp::testing
