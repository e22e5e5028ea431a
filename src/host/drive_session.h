// DriveSession: the program's use of one drive's engine. Two processes working on one drive would each save
// their own copy of the drive's state over the other's (identifiers lost, an anchor going back), so a process
// holds the drive's lock (a platform FileLock on the file beside the state file) from before its extension
// loads the state until it lets the extension go. open() takes the lock, waiting for another process that
// holds it (and saying so on stderr after a second) unless told not to wait, then starts the extension on the
// state as it is now; close() lets the extension go and releases the lock, for a command that waits between
// passes (watch). A program that ends holding the lock releases it by ending.
// Use from the main thread.
#pragma once

#include <memory>
#include <optional>

#include "client/platform_client.h"
#include "host/interrupt.h"
#include "platform/env.h"
#include "platform/file_lock.h"
#include "provider/extension.h"

namespace davfp::cli {

class DriveSession {
 public:
  // wait: whether open() waits for another process that holds the drive.
  DriveSession(platform::Domain domain, platform::Env& env, Interrupt& interrupt, bool wait);
  DriveSession(const DriveSession&) = delete;
  DriveSession& operator=(const DriveSession&) = delete;

  // Takes the drive and starts the extension, which platform() then uses; nothing when it is open already.
  // Throws Failure: the drive in use when not waiting, its lock file unusable, or cancelled when interrupted
  // while waiting.
  void open();
  // Lets the extension go and releases the drive. The extension's requests must have completed: a request's
  // completion comes after the state it changed is saved.
  void close();

  // The platform's side of the contract, on the extension of the latest open().
  client::PlatformClient& platform() { return platform_; }

 private:
  const platform::Domain domain_;
  platform::Env& env_;
  Interrupt& interrupt_;
  const bool wait_;
  std::optional<platform::FileLock> lock_;
  std::shared_ptr<FileProviderExtension> extension_;
  client::PlatformClient platform_;
};

}  // namespace davfp::cli
