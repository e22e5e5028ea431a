#include "host/program_env.h"

#include <stdlib.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>

#include "dav/dav.h"
#include "host/download_dirs.h"
#include "host/visible_text.h"
#include "platform/error.h"

namespace davfp::cli {

ProgramEnv::ProgramEnv(std::string base)
    : platform::EnvWrapper(platform::Env::standard()), base_(std::move(base)) {}

ProgramEnv::~ProgramEnv() { cleanUp(); }

std::string ProgramEnv::baseDirectory() { return base_.empty() ? target().temporaryDirectory() : base_; }

std::string ProgramEnv::temporaryDirectory() {
  platform::MutexLock lock(mu_);
  if (dir_.empty()) {
    // What killed processes left here goes first: nothing else would ever remove it.
    removeAbandonedDownloadDirectories(baseDirectory());
    dir_ = makeDownloadDirectory(baseDirectory());
  }
  return dir_;
}

std::optional<std::string> ProgramEnv::madeDirectory() const {
  platform::MutexLock lock(mu_);
  if (dir_.empty()) return std::nullopt;
  return dir_;
}

void ProgramEnv::setDomain(std::string domain) {
  platform::MutexLock lock(mu_);
  domain_ = std::move(domain);
}

void ProgramEnv::openApplication(const std::string& location, const std::vector<std::string>& arguments) {
  std::string domain;
  {
    platform::MutexLock lock(mu_);
    domain = domain_;
  }
  auto wait = std::chrono::duration_cast<std::chrono::seconds>(DavTimings{}.launchWait).count();
  std::fprintf(
      stderr,
      "davfp: started the host application; waiting up to %lld s for it to publish the drive \"%s\"\n",
      static_cast<long long>(wait), visible(domain).c_str());
  target().openApplication(location, arguments);
}

void ProgramEnv::cleanUp() {
  platform::MutexLock lock(mu_);
  if (dir_.empty()) return;
  // A cancelled download may remove its own file while the folder is emptied, and remove_all stops at the
  // first entry that went away under it: go over the folder again until it is gone. Nothing more can be done
  // about a folder that will not go.
  for (int attempt = 0; attempt < 5; ++attempt) {
    std::error_code error;
    std::filesystem::remove_all(dir_, error);
    if (!std::filesystem::exists(dir_, error) && !error) break;
  }
  dir_.clear();
}

}  // namespace davfp::cli
