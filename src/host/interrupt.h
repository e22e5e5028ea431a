// Interrupt: what Ctrl-C (SIGINT), SIGTERM or a closed terminal (SIGHUP) does to the running command. While
// the program waits for the engine it holds a Scope saying how to cancel that wait (cancel the request's
// progress, end an enumeration wait); an interruption runs it once. Commands that loop (watch) ask
// interrupted() and sleep through sleepFor(). Thread-safe: trigger() comes from the signal thread while the
// main thread waits.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

namespace davfp::cli {

class Interrupt {
 public:
  // Cancels the current wait while it lives. One scope at a time; the main thread is the only one that waits.
  class Scope {
   public:
    // Runs cancel at once when the program is already interrupted.
    Scope(Interrupt& interrupt, std::function<void()> cancel);
    // Returns after a cancel that is running on the signal thread has finished.
    ~Scope();
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;

   private:
    Interrupt& interrupt_;
  };

  // Marks the program interrupted and runs the current scope's cancel, at most once per scope.
  void trigger();
  bool interrupted() const;
  // Sleeps for d, or less when interrupted meanwhile. Returns false when interrupted.
  bool sleepFor(std::chrono::milliseconds d);

 private:
  mutable std::mutex mu_;
  std::condition_variable cv_;
  bool interrupted_ = false;      // guarded by mu_
  std::function<void()> cancel_;  // guarded by mu_; taken out when it runs
  bool cancelling_ = false;       // guarded by mu_: a cancel runs outside the lock right now
};

// Blocks SIGINT, SIGTERM and SIGHUP in the calling thread, and so in every thread started after it, and
// starts a thread that turns the first of them into interrupt.trigger(). A second one runs lastWords and ends
// the process at once with status 130. Call at the start of main, before any other thread exists.
void handleSignals(Interrupt& interrupt, std::function<void()> lastWords);

}  // namespace davfp::cli
