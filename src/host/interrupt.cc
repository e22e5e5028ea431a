#include "host/interrupt.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <thread>

namespace davfp::cli {

void Interrupt::trigger() {
  {
    platform::MutexLock lock(mu_);
    interrupted_ = true;
  }
  cv_.notifyAll();
  stop_.request_stop();
}

bool Interrupt::interrupted() const {
  platform::MutexLock lock(mu_);
  return interrupted_;
}

bool Interrupt::sleepFor(std::chrono::milliseconds d) {
  const auto end = std::chrono::steady_clock::now() + d;
  platform::MutexLock lock(mu_);
  while (!interrupted_ && cv_.waitUntil(mu_, end)) {
  }
  return !interrupted_;
}

void handleSignals(Interrupt& interrupt, std::function<void()> lastWords) {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  // Blocked too, and left to whoever waits for it: a mount runs a change pass when asked (davfp sync-now).
  sigset_t asked;
  sigemptyset(&asked);
  sigaddset(&asked, SIGUSR1);
  pthread_sigmask(SIG_BLOCK, &asked, nullptr);
  std::thread([&interrupt, set, lastWords = std::move(lastWords)] {
    bool first = true;
    for (;;) {
      int sig = 0;
      if (sigwait(&set, &sig) != 0) continue;
      if (first) {
        first = false;
        // Runs the cancel on a thread of its own: a cancel that blocks must not keep a second signal out.
        std::thread([&interrupt] { interrupt.trigger(); }).detach();
        continue;
      }
      if (lastWords) lastWords();
      ::_exit(130);
    }
  }).detach();
}

}  // namespace davfp::cli
