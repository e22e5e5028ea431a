// ListingPrefetch: the listings of a change pass's folders, fetched in order one folder ahead of the pass that
// compares them: while the pass parses and compares one answer, the next folder's request is already on the
// wire and the server prepares its answer.
//
// It all runs on the pass's thread: each next() finishes the request in flight and starts the next one before
// it returns (see Dav::startListing), so there is no second thread to hand answers over to. One request is in
// flight at a time, so a pass keeps to one connection. It holds at most two listings: the one the pass works on
// and the next one, arriving. It lists no folder that a pass going folder by folder would not list: a folder
// below the one fetched last is started only once the pass has finished with that one (whose answer may find it
// gone), and no folder below a path handed to skip() is fetched. An answer too large to hold is parsed as it
// arrives, inside next().
//
// Used by one thread, the pass's. Destroying it ends the request in flight at once, so nothing it started
// outlives the pass.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "dav/dav.h"

namespace davfp {

class ListingPrefetch {
 public:
  struct Fetched {
    std::string folder;
    Listing listing;
    bool notFound = false;   // the folder's listing was answered "not found": listing is empty
    bool forbidden = false;  // the folder's listing was refused (401 or 403): listing is empty
  };

  // Fetches folders, in this order, with depth-1 listings; the first request goes out now.
  ListingPrefetch(std::shared_ptr<Dav> dav, std::vector<std::string> folders);
  ~ListingPrefetch();
  ListingPrefetch(const ListingPrefetch&) = delete;
  ListingPrefetch& operator=(const ListingPrefetch&) = delete;

  // The next folder fetched, in order; nothing after the last. Each call ends the pass's work on the folder
  // returned before. A folder answered "not found" or refused is a result; any other failure of a listing is
  // thrown in its place, and nothing after it is fetched. Throws platform::Cancelled when the calling job is
  // cancelled.
  std::optional<Fetched> next();
  // The folder at path and everything below it are not fetched any more: call before next() for each path
  // that the folder returned last found gone.
  void skip(std::string path);

 private:
  // Starts the next folder that is not skipped, unless it lies below the one returned last (below: true, the
  // pass has finished with that one).
  void startNext(bool passDone);

  const std::shared_ptr<Dav> dav_;
  const std::vector<std::string> folders_;
  size_t following_ = 0;                  // the index of the next folder to start
  std::vector<std::string> skipped_;
  std::optional<std::string> last_;       // the folder returned last
  std::optional<std::string> inFlight_;   // the folder of the request in flight
  std::optional<Dav::StartedListing> started_;
  bool ended_ = false;                    // a failure or a cancellation ended the fetching
};

}  // namespace davfp
