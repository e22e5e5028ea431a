#include "provider/listing_prefetch.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>

#include "platform/error.h"
#include "state/paths.h"

namespace davfp {

namespace {

bool underAny(std::string_view path, const std::vector<std::string>& folders) {
  return std::any_of(folders.begin(), folders.end(), [&](const std::string& f) { return isUnder(path, f); });
}

}  // namespace

struct ListingPrefetch::Shared {
  struct Result {
    Fetched fetched;
    std::exception_ptr error;
  };

  explicit Shared(std::vector<std::string> f) : folders(std::move(f)) {}

  const std::vector<std::string> folders;
  std::mutex mu;
  std::condition_variable_any cv;  // signalled when any field below changes
  size_t asked = 0;                // guarded by mu: calls of next() so far
  std::vector<std::string> skipped;  // guarded by mu
  std::deque<Result> ready;        // guarded by mu: fetched, not yet returned by next()
  bool finished = false;           // guarded by mu: nothing more will be fetched
};

ListingPrefetch::ListingPrefetch(std::shared_ptr<Dav> dav, std::vector<std::string> folders)
    : shared_(std::make_shared<Shared>(std::move(folders))) {
  job_ = platform::spawn([shared = shared_, dav = std::move(dav)] { fetch(shared, dav); });
}

ListingPrefetch::~ListingPrefetch() {
  job_.cancel();
  job_.wait();
}

void ListingPrefetch::fetch(const std::shared_ptr<Shared>& shared, const std::shared_ptr<Dav>& dav) {
  Shared& s = *shared;
  std::stop_token token = platform::currentStopToken();
  size_t produced = 0;               // results handed over so far
  const std::string* last = nullptr;  // the folder of the last one
  for (const auto& folder : s.folders) {
    {
      std::unique_lock lock(s.mu);
      // Result n may be fetched once the pass has asked for result n - 1, that is, finished with n - 2: at
      // most two listings at once. A folder below the last one fetched waits until the pass has finished with
      // that one too, and has said what it found gone.
      size_t needed = produced;
      if (last && isUnder(folder, *last)) ++needed;
      if (!s.cv.wait(lock, token, [&] { return s.asked >= needed; })) break;
      if (underAny(folder, s.skipped)) continue;
    }
    Shared::Result result{Fetched{.folder = folder}, nullptr};
    try {
      result.fetched.listing = dav->listing(folder, 1);
    } catch (const DavError& e) {
      if (e.kind() == DavError::Kind::notFound) {
        result.fetched.notFound = true;
      } else {
        result.error = std::current_exception();
      }
    } catch (...) {
      result.error = std::current_exception();
    }
    const bool failed = result.error != nullptr;
    {
      std::lock_guard lock(s.mu);
      s.ready.push_back(std::move(result));
    }
    s.cv.notify_all();
    if (failed) break;  // the pass ends there
    ++produced;
    last = &folder;
  }
  {
    std::lock_guard lock(s.mu);
    s.finished = true;
  }
  s.cv.notify_all();
}

std::optional<ListingPrefetch::Fetched> ListingPrefetch::next() {
  Shared& s = *shared_;
  std::unique_lock lock(s.mu);
  ++s.asked;
  s.cv.notify_all();
  if (!s.cv.wait(lock, platform::currentStopToken(), [&] { return !s.ready.empty() || s.finished; })) {
    throw platform::Cancelled();
  }
  if (s.ready.empty()) return std::nullopt;
  Shared::Result result = std::move(s.ready.front());
  s.ready.pop_front();
  if (result.error) std::rethrow_exception(result.error);
  return std::move(result.fetched);
}

void ListingPrefetch::skip(std::string path) {
  std::lock_guard lock(shared_->mu);
  shared_->skipped.push_back(std::move(path));
}

}  // namespace davfp
