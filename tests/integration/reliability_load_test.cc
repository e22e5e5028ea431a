// A thousand concurrent platform requests of every kind, a third of them cancelled at random moments, against
// one in-memory WebDAV tree: every completion handler and every enumeration's finish is called exactly once,
// nothing deadlocks (a watchdog fails the test instead of letting it hang), and afterwards no job is left
// running and the process holds no more threads, descriptors or downloaded files than before.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <iterator>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/jobs.h"
#include "support/served_tree.h"
#include "support/test_drive.h"

namespace davfp::testing {
namespace {

namespace fs = std::filesystem;
using platform::ItemRef;
using platform::kRootContainerItemIdentifier;
using namespace platform::field;

// The process's threads, and its open file descriptors as "fd -> what it refers to", from /proc.
size_t threadCount() {
  std::error_code ignored;
  const auto tasks = fs::directory_iterator("/proc/self/task", ignored);
  return static_cast<size_t>(std::distance(tasks, fs::directory_iterator()));
}
std::vector<std::string> openDescriptors() {
  std::vector<std::string> out;
  std::error_code ignored;
  for (const auto& entry : fs::directory_iterator("/proc/self/fd", ignored)) {
    std::string target = fs::read_symlink(entry.path(), ignored).string();
    // The directory stream of this very listing is open while it runs.
    if (target.find("/proc/") != std::string::npos && target.ends_with("/fd")) continue;
    out.push_back(entry.path().filename().string() + " -> " + target);
  }
  return out;
}

constexpr int kRequests = 1000;
constexpr int kPlatformThreads = 4;
constexpr auto kWatchdog = std::chrono::minutes(2);

constexpr int kKindCount = 8;

// Counts the calls that end each request.
struct Completions {
  std::atomic<int> calls[kRequests] = {};
  std::atomic<int> ended = 0;
  void called(int request) { ended += ++calls[request] == 1; }
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
  void finishEnumeratingWithError(const platform::Error&) override { completions.called(request); }
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

    auto issue = [&](int thread) {
      std::mt19937 rng(seed + thread);
      std::vector<std::shared_ptr<platform::Progress>> later;
      auto any = [&](const std::vector<std::string>& ids) { return ids[rng() % ids.size()]; };
      for (int request = thread; request < kRequests; request += kPlatformThreads) {
        auto done = [&completions, request](auto&&...) { completions.called(request); };
        std::shared_ptr<platform::Progress> progress;
        auto item = [&](bool folder, std::string id = {}) {
          const std::string name = "n" + std::to_string(request);
          return std::make_shared<TemplateItem>(folder ? TemplateItem::folder(name, any(folders))
                                                       : TemplateItem::file(name, any(folders), id));
        };
        auto finishes = std::make_shared<Finishes>(completions, request);
        const bool flip = rng() % 2;
        switch (request % kKindCount) {
          case 0:
            progress = ext.itemForIdentifier(any(files), {}, done);
            break;
          case 1:
            progress = ext.fetchContents(
                any(files), std::nullopt, {},
                [&completions, request](std::optional<std::string> file, ItemRef, std::optional<platform::Error>) {
                  if (file) fs::remove(*file);
                  completions.called(request);
                });
            break;
          case 2:
            progress = ext.createItem(item(flip), 0, flip ? std::nullopt : std::optional(contents[request]), 0,
                                      {}, done);
            break;
          case 3:  // a rename and move, or a replacement of the contents
            progress = ext.modifyItem(item(false, any(files)), {}, flip ? kFilename | kParentItemIdentifier : kContents,
                                      flip ? std::nullopt : std::optional(contents[request]), 0, {}, done);
            break;
          case 4:
            progress = ext.deleteItem(flip ? any(files) : any(folders),
                                      platform::ItemVersion{platform::kBeforeFirstSyncComponent, {}},
                                      platform::kDeleteRecursive, {}, done);
            break;
          case 5:
            ext.enumerator(any(folders), {})->enumerateItems(finishes, platform::kInitialPageSortedByName);
            break;
          case 6:
            ext.enumerator(platform::kWorkingSetContainerItemIdentifier, {})
                ->enumerateItems(finishes, platform::kInitialPageSortedByName);
            break;
          default:
            ext.enumerator(platform::kWorkingSetContainerItemIdentifier, {})->enumerateChanges(finishes, ext.anchor());
            break;
        }
        // A third of the requests are cancelled: a sixth at once, a sixth later, while this thread issues
        // the requests that follow (some of them may have ended by then).
        if (progress && rng() % 6 == 0) progress->cancel();
        if (progress && rng() % 6 == 1) later.push_back(progress);
        if (!later.empty() && rng() % 3 == 0) {
          std::swap(later[rng() % later.size()], later.back());
          later.back()->cancel();
          later.pop_back();
        }
      }
      for (const auto& progress : later) progress->cancel();
    };
    std::vector<std::thread> platformThreads;
    for (int t = 0; t < kPlatformThreads; ++t) platformThreads.emplace_back(issue, t);
    for (auto& t : platformThreads) t.join();

    // The watchdog: a request whose end never comes fails the test here, and the process is ended rather
    // than left to hang in the destructors that would wait for it.
    for (auto until = std::chrono::steady_clock::now() + kWatchdog;
         completions.ended < kRequests && std::chrono::steady_clock::now() < until;) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (completions.ended < kRequests) {
      std::cerr << "deadlock: request " << std::find(completions.calls, completions.calls + kRequests, 0) -
                                               completions.calls << " never ended\n";
      std::abort();
    }
    // Outcomes that come after a cancellation's answer must be dropped: wait until every job has returned.
    ASSERT_TRUE(settles()) << "jobs still running: " << platform::poolCountsForTesting().jobs;
    for (int r = 0; r < kRequests; ++r) {
      EXPECT_EQ(completions.calls[r], 1) << "request " << r << ", of kind " << r % kKindCount;
    }
    // Every download was delivered and removed, or removed because nobody waited for it any more.
    EXPECT_TRUE(fs::is_empty(drive.env().temporaryDirectory()));
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
