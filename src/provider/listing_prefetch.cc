#include "provider/listing_prefetch.h"

#include <exception>

#include "dav/dav_error.h"
#include "platform/error.h"
#include "platform/jobs.h"
#include "platform/server_path.h"

namespace davfp {

ListingPrefetch::ListingPrefetch(std::shared_ptr<Dav> dav, std::vector<std::string> folders)
    : dav_(std::move(dav)), folders_(std::move(folders)) {
  startNext(true);
}

// The request in flight, if any, ends with its StartedListing.
ListingPrefetch::~ListingPrefetch() = default;

void ListingPrefetch::startNext(bool passDone) {
  while (following_ < folders_.size() && platform::isUnderAny(folders_[following_], skipped_)) ++following_;
  if (following_ == folders_.size()) return;
  const std::string& folder = folders_[following_];
  // The pass may yet find this folder gone in the answer it is about to compare.
  if (!passDone && last_ && platform::isUnder(folder, *last_)) return;
  inFlight_ = folder;
  started_.emplace(dav_->startListing(folder, 1));
  ++following_;
}

std::optional<ListingPrefetch::Fetched> ListingPrefetch::next() {
  if (ended_) return std::nullopt;
  if (platform::cancelled()) {
    ended_ = true;
    started_.reset();
    throw platform::Cancelled();
  }
  // The pass has finished with the folder returned last and said what it found gone.
  if (!started_) startNext(true);
  if (!started_) return std::nullopt;

  Fetched fetched{.folder = std::move(*inFlight_)};
  std::optional<Dav::StartedListing> started = std::move(started_);
  started_.reset();
  inFlight_.reset();
  try {
    fetched.listing = started->finish();
  } catch (const DavError& e) {
    if (e.kind() == DavError::Kind::notFound) {
      fetched.notFound = true;
    } else if (e.kind() == DavError::Kind::forbidden) {
      fetched.forbidden = true;
    } else {
      ended_ = true;
      throw;
    }
  } catch (...) {
    ended_ = true;
    if (platform::cancelled()) throw platform::Cancelled();
    throw;
  }
  started.reset();
  last_ = fetched.folder;
  // The next request goes out before this answer is parsed: the server works on it meanwhile.
  startNext(false);
  return fetched;
}

void ListingPrefetch::skip(std::string path) { skipped_.push_back(std::move(path)); }

}  // namespace davfp
