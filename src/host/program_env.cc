#include "host/program_env.h"

#include <filesystem>

#include "host/download_dirs.h"

namespace davfp::cli {

ProgramEnv::ProgramEnv(std::string base)
    : platform::EnvWrapper(platform::Env::standard()), base_(std::move(base)) {}

ProgramEnv::~ProgramEnv() { cleanUp(); }

std::string ProgramEnv::baseDirectory() { return base_.empty() ? target().temporaryDirectory() : base_; }

std::string ProgramEnv::temporaryDirectory() {
  std::lock_guard guard(mu_);
  if (dir_.empty()) {
    // What killed processes left here goes first: nothing else would ever remove it.
    removeAbandonedDownloadDirectories(baseDirectory());
    dir_ = makeDownloadDirectory(baseDirectory());
  }
  return dir_;
}

std::optional<std::string> ProgramEnv::madeDirectory() const {
  std::lock_guard guard(mu_);
  if (dir_.empty()) return std::nullopt;
  return dir_;
}

void ProgramEnv::cleanUp() {
  std::lock_guard guard(mu_);
  if (dir_.empty()) return;
  std::error_code ignored;  // nothing more can be done about a directory that will not go
  std::filesystem::remove_all(dir_, ignored);
  dir_.clear();
}

}  // namespace davfp::cli
