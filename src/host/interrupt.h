// Interrupt: what Ctrl-C (SIGINT), SIGTERM or a closed terminal (SIGHUP) does to the running command. It asks
// the program's stop token to stop: the platform client watching it cancels the request it waits for through
// the request's progress, or ends an enumeration wait; a wait for the drive's lock gives up. Commands that
// loop (watch) ask interrupted() and sleep through sleepFor(). Thread-safe: trigger() comes from the signal
// thread while the main thread waits.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <stop_token>

#include "platform/mutex.h"

namespace davfp::cli {

// The exit status of a command that an interruption ended.
inline constexpr int kInterruptedStatus = 130;

class Interrupt {
 public:
  // Marks the program interrupted and asks token() to stop, which runs what waits on it on this thread.
  void trigger();
  bool interrupted() const;
  // Stops once the program is interrupted; a wait that begins after that is cancelled at once.
  std::stop_token token() const { return stop_.get_token(); }
  // Sleeps for d, or less when interrupted meanwhile. Returns false when interrupted.
  bool sleepFor(std::chrono::milliseconds d);

 private:
  mutable platform::Mutex mu_;
  platform::CondVar cv_;
  bool interrupted_ GUARDED_BY(mu_) = false;
  std::stop_source stop_;
};

// Blocks SIGINT, SIGTERM and SIGHUP in the calling thread, and so in every thread started after it, and
// starts a thread that turns the first of them into interrupt.trigger(). A second one runs lastWords and ends
// the process at once with status 130. SIGUSR1 is blocked as well, for a mount to wait for (sync-now). Call
// at the start of main, before any other thread exists.
void handleSignals(Interrupt& interrupt, std::function<void()> lastWords);

}  // namespace davfp::cli
