#include "host/drive_session.h"

#include <cerrno>
#include <chrono>
#include <cstdio>

#include "client/errors.h"
#include "host/failure.h"
#include "host/visible_text.h"
#include "mount/mount_table.h"
#include "state/state.h"

namespace davfp::cli {

namespace {

// How long a process waits for the drive before it says what it is waiting for.
constexpr std::chrono::seconds kPatience{1};

std::string inUse(const std::string& domain, const platform::FileLock::Holder& holder) {
  std::string text = "drive \"" + domain + "\" is in use by ";
  if (holder.pid == 0) return text + "another process";
  text += "process " + std::to_string(holder.pid);
  if (!holder.command.empty()) text += " (" + holder.command + ")";
  return text;
}

}  // namespace

DriveSession::DriveSession(platform::Domain domain, platform::Env& env, Interrupt& interrupt, bool wait)
    : domain_(std::move(domain)),
      env_(env),
      interrupt_(interrupt),
      wait_(wait),
      platform_(nullptr, interrupt.token()) {}

void DriveSession::open() {
  if (extension_) return;
  const std::string path = State::lockFile(domain_.identifier, env_);
  try {
    lock_ = platform::FileLock::tryTake(path);
    if (lock_) {
      // Taken at once.
    } else if (auto holder = platform::FileLock::holder(path);
               !mount::mountpointOf(domain_.identifier, holder.command, holder.pid).empty()) {
      // A mount holds the drive for as long as it is mounted: waiting would not end.
      throw Failure{{},
                    platform::Error(platform::kPOSIXErrorDomain, EBUSY,
                                    inUse(domain_.identifier, holder) + ": it is mounted at " +
                                        mount::mountpointOf(domain_.identifier, holder.command, holder.pid)),
                    "use the drive through that folder, or davfp unmount it first"};
    } else if (!wait_) {
      throw Failure{{},
                    platform::Error(platform::kPOSIXErrorDomain, EBUSY, inUse(domain_.identifier, holder)),
                    "without --no-wait, davfp waits for it"};
    } else {
      lock_ = platform::FileLock::take(
          path, kPatience,
          [this](const platform::FileLock::Holder& other) {
            std::fprintf(stderr, "%s\n",
                         visible("davfp: " + inUse(domain_.identifier, other) +
                                 "; waiting until it is done (Ctrl-C gives up)")
                             .c_str());
          },
          interrupt_.token());
      if (!lock_) throw Failure{{}, client::cancelledError(), {}};
    }
  } catch (const platform::Error& e) {
    throw localFailure(path, static_cast<int>(e.code()));
  }
  extension_ = FileProviderExtension::create(domain_, env_);
  platform_.attach(extension_);
}

void DriveSession::close() {
  platform_.attach(nullptr);
  extension_.reset();
  lock_.reset();
}

}  // namespace davfp::cli
