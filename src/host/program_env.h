// ProgramEnv: the operating system's services as this program offers them to the engine. Everything is the
// standard Env except the temporary directory, where the engine puts downloads: a private directory made on
// first use inside a base directory the command chooses (next to the file being saved, so that placing it is
// a rename on the same file system, not a copy through /tmp; see download_dirs.h), removed with whatever is
// left in it when the ProgramEnv goes. When the engine starts the host application, the program says on
// stderr what it waits for. Thread-safe.
#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/env.h"
#include "platform/mutex.h"

namespace davfp::cli {

class ProgramEnv final : public platform::EnvWrapper {
 public:
  // base: where the private directory is made; the standard temporary directory when empty.
  explicit ProgramEnv(std::string base = {});
  ~ProgramEnv() override;
  ProgramEnv(const ProgramEnv&) = delete;
  ProgramEnv& operator=(const ProgramEnv&) = delete;

  // The private directory, made now if it was not yet. Throws platform::Error (POSIX) when it cannot be made.
  std::string temporaryDirectory() override;
  // Where the private directory is made.
  std::string baseDirectory();
  // The private directory when it exists, for watching a download grow.
  std::optional<std::string> madeDirectory() const;
  // Removes the private directory and everything in it. Idempotent; also for the last words of the program.
  void cleanUp();

  // The drive whose publication a start of the host application waits for.
  void setDomain(std::string domain);
  // Starts the host application, saying on stderr that the command waits for it to publish the drive.
  void openApplication(const std::string& location, const std::vector<std::string>& arguments) override;

 private:
  const std::string base_;
  mutable platform::Mutex mu_;
  std::string dir_ GUARDED_BY(mu_);  // empty until made
  std::string domain_ GUARDED_BY(mu_);
};

}  // namespace davfp::cli
