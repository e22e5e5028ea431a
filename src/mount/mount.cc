#include "mount/mount.h"

#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <deque>
#include <fstream>
#include <string>
#include <thread>

#include "mount/drive_fs.h"
#include "mount/fuse_mount.h"
#include "mount/item_attributes.h"
#include "mount/journal.h"
#include "mount/mount_table.h"
#include "mount/outbox.h"
#include "mount/replica.h"
#include "mount/uploader.h"
#include "platform/mutex.h"

namespace davfp::mount {

namespace {

// This run of the machine: the kernel makes a new one at every boot.
std::string bootId() {
  std::ifstream file("/proc/sys/kernel/random/boot_id");
  std::string id;
  std::getline(file, id);
  return id;
}

// Hands what the journal learnt to the kernel on a thread of its own: telling the kernel to forget a name
// from inside a request that holds its folder would wait for that very request.
class Invalidations {
 public:
  explicit Invalidations(FuseMount& fuse)
      : fuse_(fuse), thread_([this](std::stop_token stop) { run(stop); }) {}

  void add(const Effects& effects) {
    platform::MutexLock lock(mu_);
    queue_.push_back(effects);
    cv_.notifyAll();
  }

 private:
  void run(std::stop_token stop) {
    std::stop_callback wake(stop, [this] {
      platform::MutexLock lock(mu_);
      cv_.notifyAll();
    });
    for (;;) {
      Effects next;
      {
        platform::MutexLock lock(mu_);
        while (queue_.empty() && !stop.stop_requested()) cv_.wait(mu_);
        if (queue_.empty()) return;
        next = std::move(queue_.front());
        queue_.pop_front();
      }
      fuse_.notify(next);
    }
  }

  FuseMount& fuse_;
  platform::Mutex mu_;
  platform::CondVar cv_;
  std::deque<Effects> queue_ GUARDED_BY(mu_);
  std::jthread thread_;
};

// When the next change pass is due: every poll interval, or at once when asked.
class PassClock {
 public:
  explicit PassClock(std::chrono::seconds interval) : interval_(interval) {}

  // Waits for the next pass; false once stop is requested.
  bool waitForTurn(std::stop_token stop) {
    std::stop_callback wake(stop, [this] {
      platform::MutexLock lock(mu_);
      cv_.notifyAll();
    });
    platform::MutexLock lock(mu_);
    const auto end = std::chrono::steady_clock::now() + interval_;
    while (!asked_ && !stop.stop_requested() && std::chrono::steady_clock::now() < end)
      cv_.waitUntil(mu_, end);
    asked_ = false;
    return !stop.stop_requested();
  }

  void now() {
    platform::MutexLock lock(mu_);
    asked_ = true;
    cv_.notifyAll();
  }

 private:
  const std::chrono::seconds interval_;
  platform::Mutex mu_;
  platform::CondVar cv_;
  bool asked_ GUARDED_BY(mu_) = false;
};

}  // namespace

void runMount(client::PlatformClient& platform, const MountOptions& options, std::stop_token stop,
              const std::function<void()>& ready) {
  Replica replica = options.replica.empty() ? Replica::forDomain(options.domain) : Replica(options.replica);
  JournalDb db(replica.journalPath());
  auto wallClock = [] { return std::time(nullptr); };
  Journal journal(db, wallClock);
  Outbox outbox(
      db,
      [] {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::system_clock::now().time_since_epoch())
            .count();
      },
      wallClock);
  auto log = [&](const std::string& line) {
    if (options.verbose) std::fprintf(stderr, "davfp mount: %s\n", line.c_str());
  };
  // Set once the kernel's side exists; nothing reaches the kernel before the mount is made.
  std::atomic<Invalidations*> invalidations = nullptr;
  auto notify = [&](const Effects& effects) {
    if (Invalidations* queue = invalidations.load()) queue->add(effects);
  };
  Uploader uploader(platform, journal, outbox, replica, notify, log);
  DriveFs fs(
      platform, journal, outbox, replica, notify, [&](int64_t afterMs) { uploader.wake(afterMs); }, log);
  outbox.whileOpen([&fs](Ino ino) { return fs.openForWriting(ino); });
  fs.limitReplica(options.cacheMax > 0 ? options.cacheMax : ReplicaLimit::defaultFor(replica.folder()));
  ItemAttributes attributes(journal, fs);
  FuseMount mounted(fs, attributes, {.fsname = fsnameOf(options.domain), .debug = options.debug});
  Invalidations queue(mounted);
  invalidations = &queue;
  mounted.mount(options.mountpoint);
  std::stop_callback unmount(stop, [&mounted] { mounted.exit(); });

  outbox.started(bootId());  // what a mount before this one left unsent goes first
  uploader.start();
  PassClock clock(options.poll);
  std::jthread poller([&](std::stop_token polling) {
    while (clock.waitForTurn(polling)) {
      try {
        fs.changePass();
      } catch (const std::exception& e) {
        log(std::string("change pass failed: ") + e.what());
      }
    }
  });
  // davfp sync-now asks for a pass at once with SIGUSR1 (blocked in every thread since the program began).
  std::jthread asked([&](std::stop_token asking) {
    sigset_t usr1;
    sigemptyset(&usr1);
    sigaddset(&usr1, SIGUSR1);
    const timespec second{1, 0};
    while (!asking.stop_requested()) {
      if (sigtimedwait(&usr1, nullptr, &second) == SIGUSR1) clock.now();
    }
  });
  ready();
  mounted.run();
  asked.request_stop();
  poller.request_stop();
  poller.join();
  uploader.stop();
  invalidations = nullptr;
  // The folder is gone; what programs closed last is sent now rather than at the next mount, while the server
  // answers.
  if (int64_t left = uploader.drain(stop)) {
    std::fprintf(stderr, "davfp mount: %lld changes not sent yet; the next mount sends them\n",
                 static_cast<long long>(left));
  }
  outbox.ended();
}

}  // namespace davfp::mount
