// ListingPrefetch: the listings of a change pass's folders, fetched in order on a job of its own, one folder
// ahead of the pass that compares them: while the pass parses and compares one answer, the next folder's
// request is already on the wire.
//
// The fetching job sends one request at a time, so a pass keeps to one connection. It holds at most two
// listings: the one the pass works on and the next. It lists no folder that a pass going folder by folder
// would not list: a folder below the one fetched last waits until the pass has finished with that one (whose
// answer may find it gone), and no folder below a path handed to skip() is fetched.
//
// Used by one thread, the pass's. Destroying it cancels the fetching job and waits for it to end, so nothing
// it started outlives the pass.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "dav/dav.h"
#include "platform/jobs.h"

namespace davfp {

class ListingPrefetch {
 public:
  struct Fetched {
    std::string folder;
    Listing listing;
    bool notFound = false;  // the folder's listing was answered "not found": listing is empty
  };

  // Starts fetching folders, in this order, with depth-1 listings.
  ListingPrefetch(std::shared_ptr<Dav> dav, std::vector<std::string> folders);
  ~ListingPrefetch();
  ListingPrefetch(const ListingPrefetch&) = delete;
  ListingPrefetch& operator=(const ListingPrefetch&) = delete;

  // The next folder fetched, in order; nothing after the last. Each call ends the pass's work on the folder
  // returned before. A folder answered "not found" is a result; any other failure of a listing is rethrown in
  // its place, and nothing after it is fetched. Throws platform::Cancelled when the calling job is cancelled
  // while it waits.
  std::optional<Fetched> next();
  // The folder at path and everything below it are not fetched any more: call before next() for each path
  // that the folder returned last found gone.
  void skip(std::string path);

 private:
  struct Shared;
  static void fetch(const std::shared_ptr<Shared>& shared, const std::shared_ptr<Dav>& dav);

  std::shared_ptr<Shared> shared_;
  platform::Job job_;
};

}  // namespace davfp
