// A thousand concurrent platform requests of every kind, a third of them cancelled at random moments, against
// one in-memory WebDAV tree: every completion handler and every enumeration's finish is called exactly once,
// nothing deadlocks (a watchdog fails the test instead of letting it hang), and afterwards no job is left
// running and the process holds no more threads, descriptors or downloaded files than before.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "platform/jobs.h"
#include "support/served_tree.h"
#include "support/reliability_process.h"
#include "support/test_drive.h"

namespace davfp::testing {
namespace {

namespace fs = std::filesystem;
using platform::ItemRef;
using platform::kRootContainerItemIdentifier;
using namespace platform::field;

constexpr int kRequests = 1000;
constexpr int kPlatformThreads = 4;
constexpr auto kWatchdog = std::chrono::minutes(2);

const char* const kKinds[] = {"lookup",  "fetch",  "create folder", "create file", "rename",
                              "replace", "delete", "enumerate",     "working set", "change pass"};
constexpr int kKindCount = sizeof kKinds / sizeof kKinds[0];

// Counts the calls that end each request, and wakes the test when all have come.
class Completions {
 public:
  void called(int request, const std::optional<platform::Error>& error = std::nullopt) {
    std::lock_guard lock(mu_);
    if (++calls_[request] == 1) ++ended_;
    if (!error) {
      ++succeeded_;
    } else if (error->code() == platform::cocoa::kUserCancelled) {
      ++cancelled_;
    }
    cv_.notify_all();
  }
  std::string summary() {
    std::lock_guard lock(mu_);
    return std::to_string(succeeded_) + " succeeded, " + std::to_string(cancelled_) + " cancelled, " +
           std::to_string(ended_ - succeeded_ - cancelled_) + " failed otherwise";
  }
  // False when not every request has ended by the deadline.
  bool waitForAll(std::chrono::steady_clock::duration deadline) {
    std::unique_lock lock(mu_);
    return cv_.wait_for(lock, deadline, [&] { return ended_ == kRequests; });
  }
  std::vector<int> calls() {
    std::lock_guard lock(mu_);
    return std::vector<int>(calls_, calls_ + kRequests);
  }

 private:
  std::mutex mu_;
  std::condition_variable cv_;
  int calls_[kRequests] = {};  // guarded by mu_
  int ended_ = 0;              // guarded by mu_
  int succeeded_ = 0;          // guarded by mu_
  int cancelled_ = 0;          // guarded by mu_
};

// An observer that counts its finish calls (and only those).
struct Finishes : platform::EnumerationObserver, platform::ChangeObserver {
  Finishes(Completions& c, int r) : completions(c), request(r) {}
  void didEnumerateItems(std::vector<ItemRef>) override {}
  void finishEnumeratingUpToPage(std::optional<platform::Page>) override { completions.called(request); }
  void didUpdateItems(std::vector<ItemRef>) override {}
  void didDeleteItemsWithIdentifiers(std::vector<platform::ItemIdentifier>) override {}
  void finishEnumeratingChangesUpToSyncAnchor(platform::SyncAnchor, bool) override {
    completions.called(request);
  }
  void finishEnumeratingWithError(const platform::Error& e) override { completions.called(request, e); }
  Completions& completions;
  int request;
};

// Waits, within a bound, until every job has returned and, unless threadsBefore is none, the process's
// threads are those it had before and idle workers of the pool.
bool settles(std::optional<size_t> threadsBefore = std::nullopt, size_t workersBefore = 0) {
  auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  for (;;) {
    platform::PoolCounts pool = platform::poolCountsForTesting();
    if (pool.jobs == 0 &&
        (!threadsBefore || threadCount() - pool.workers == *threadsBefore - workersBefore)) {
      return true;
    }
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

TEST(LoadTest, AThousandConcurrentRequestsWithRandomCancellations) {
  DavTimings timings = TestDrive::quickTimings();
  timings.sessionTimeout = timings.requestTimeout = timings.probeTimeout = std::chrono::seconds(30);
  {
    // Once first, so that what the libraries keep for good (their initialisation) is in the baseline.
    FakeServer server;
    ServedTree tree{server};
    TestDrive(server.url("/dav/"), timings).enumerate(kRootContainerItemIdentifier);
  }
  ASSERT_TRUE(settles(threadCount(), platform::poolCountsForTesting().workers));
  const size_t threadsBefore = threadCount();
  const size_t workersBefore = platform::poolCountsForTesting().workers;
  const auto descriptorsBefore = openDescriptors();

  const unsigned seed = std::random_device()();
  SCOPED_TRACE("seed " + std::to_string(seed));
  Completions completions;
  {
    FakeServer server;
    ServedTree tree{server};
    for (int d = 0; d < 10; ++d) {
      tree.folder("/d" + std::to_string(d));
      for (int f = 0; f < 10; ++f) tree.file("/d" + std::to_string(d) + "/f" + std::to_string(f), "contents");
    }
    // Answers take a little while, so that requests overlap and cancellations find them in flight.
    std::atomic<unsigned> latency{seed};
    tree.beforeEach([&](const FakeServer::Received&) {
      std::this_thread::sleep_for(std::chrono::microseconds(latency.fetch_add(7919) % 3000));
    });
    TestDrive drive(server.url("/dav/"), timings);
    std::vector<std::string> folders, files;
    for (const auto& folder : drive.enumerate(kRootContainerItemIdentifier)->items()) {
      folders.push_back(folder->itemIdentifier());
      for (const auto& file : drive.enumerate(folder->itemIdentifier())->items()) {
        files.push_back(file->itemIdentifier());
      }
    }
    ASSERT_EQ(files.size(), 100u);
    std::vector<std::string> contents;
    for (int i = 0; i < kRequests; ++i) contents.push_back(drive.contents("new " + std::to_string(i)));
    FileProviderExtension& ext = drive.ext();

    std::mutex mu;
    std::vector<std::shared_ptr<platform::Progress>> toCancel;  // guarded by mu
    std::atomic<int> issuing{kPlatformThreads};
    auto issue = [&](int thread) {
      std::mt19937 rng(seed + thread);
      auto any = [&](const std::vector<std::string>& ids) { return ids[rng() % ids.size()]; };
      for (int request = thread; request < kRequests; request += kPlatformThreads) {
        // Every completion handler's last argument is its error.
        auto done = [&completions, request](auto&&... args) {
          completions.called(request, std::get<sizeof...(args) - 1>(std::forward_as_tuple(args...)));
        };
        std::shared_ptr<platform::Progress> progress;
        const std::string name = "n" + std::to_string(request);
        switch (request % kKindCount) {
          case 0:
            progress = ext.itemForIdentifier(any(files), {}, done);
            break;
          case 1:
            progress = ext.fetchContents(any(files), std::nullopt, {},
                                         [&completions, request](std::optional<std::string> file, ItemRef,
                                                                 std::optional<platform::Error> e) {
                                           if (file) fs::remove(*file);
                                           completions.called(request, e);
                                         });
            break;
          case 2:
            progress =
                ext.createItem(std::make_shared<TemplateItem>(TemplateItem::folder(name, any(folders))), 0,
                               std::nullopt, 0, {}, done);
            break;
          case 3:
            progress = ext.createItem(std::make_shared<TemplateItem>(TemplateItem::file(name, any(folders))),
                                      0, contents[request], 0, {}, done);
            break;
          case 4:
            progress = ext.modifyItem(
                std::make_shared<TemplateItem>(TemplateItem::file(name, any(folders), any(files))), {},
                kFilename | kParentItemIdentifier, std::nullopt, 0, {}, done);
            break;
          case 5:
            progress = ext.modifyItem(
                std::make_shared<TemplateItem>(TemplateItem::file("f0", any(folders), any(files))), {},
                kContents, contents[request], 0, {}, done);
            break;
          case 6:
            progress = ext.deleteItem(rng() % 2 ? any(files) : any(folders),
                                      platform::ItemVersion{platform::kBeforeFirstSyncComponent, {}},
                                      platform::kDeleteRecursive, {}, done);
            break;
          case 7:
            ext.enumerator(any(folders), {})
                ->enumerateItems(std::make_shared<Finishes>(completions, request),
                                 platform::kInitialPageSortedByName);
            break;
          case 8:
            ext.enumerator(platform::kWorkingSetContainerItemIdentifier, {})
                ->enumerateItems(std::make_shared<Finishes>(completions, request),
                                 platform::kInitialPageSortedByName);
            break;
          default:
            ext.enumerator(platform::kWorkingSetContainerItemIdentifier, {})
                ->enumerateChanges(std::make_shared<Finishes>(completions, request), ext.anchor());
            break;
        }
        // A third of the requests are cancelled: a sixth at once, a sixth a little later.
        if (progress && rng() % 6 == 0) progress->cancel();
        if (progress && rng() % 6 == 1) {
          std::lock_guard lock(mu);
          toCancel.push_back(progress);
        }
      }
      --issuing;
    };
    std::vector<std::thread> platformThreads;
    for (int t = 0; t < kPlatformThreads; ++t) platformThreads.emplace_back(issue, t);
    std::thread canceller([&] {
      std::mt19937 rng(seed);
      for (;;) {
        std::shared_ptr<platform::Progress> next;
        {
          std::lock_guard lock(mu);
          if (toCancel.empty() && issuing == 0) return;
          if (!toCancel.empty()) {
            std::swap(toCancel[rng() % toCancel.size()], toCancel.back());
            next = std::move(toCancel.back());
            toCancel.pop_back();
          }
        }
        if (next) next->cancel();
        std::this_thread::sleep_for(std::chrono::microseconds(rng() % 2000));
      }
    });
    for (auto& t : platformThreads) t.join();
    canceller.join();

    // The watchdog: a request whose end never comes fails the test here, and the process is ended rather
    // than left to hang in the destructors that would wait for it.
    if (!completions.waitForAll(kWatchdog)) {
      auto calls = completions.calls();
      for (int r = 0; r < kRequests; ++r) {
        if (calls[r] == 0)
          std::cerr << "request " << r << " (" << kKinds[r % kKindCount] << ") never ended\n";
      }
      ADD_FAILURE() << "deadlock: requests still running after " << kWatchdog.count() << " minutes";
      std::abort();
    }
    std::cout << kRequests << " requests: " << completions.summary() << "; the pool grew to "
              << platform::poolCountsForTesting().workers << " workers\n";
    // Outcomes that come after a cancellation's answer must be dropped: wait until every job has returned.
    ASSERT_TRUE(settles()) << "jobs still running: " << platform::poolCountsForTesting().jobs;
    auto calls = completions.calls();
    for (int r = 0; r < kRequests; ++r) {
      EXPECT_EQ(calls[r], 1) << "request " << r << " (" << kKinds[r % kKindCount] << ")";
    }
    // Every download was delivered and removed, or removed because nobody waited for it any more.
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(drive.env().temporaryDirectory())) {
      left.push_back(entry.path().string());
    }
    EXPECT_TRUE(left.empty()) << left.size() << " files left, the first " << left[0];
    server.stop();
  }
  // With the extension and the server gone, the process holds what it held before.
  EXPECT_TRUE(settles(threadsBefore, workersBefore))
      << threadCount() << " threads, " << platform::poolCountsForTesting().workers
      << " of them workers, against " << threadsBefore << " and " << workersBefore;
  EXPECT_EQ(openDescriptors(), descriptorsBefore);
}

}  // namespace
}  // namespace davfp::testing
