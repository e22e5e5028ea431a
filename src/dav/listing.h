// Listing: the answer to a PROPFIND as it was received, turned into entries afterwards, on any thread.
//
// A body of up to kHeldListingBody bytes is held whole, so that the exchange ends before its parse starts and
// the next request can go out while this answer is parsed. A larger body is parsed while it arrives, as
// Dav::list does: a huge folder's body is never held whole. A ListingReceiver (dav/listing_receiver.h) makes
// it from the body as it arrives. A value, movable between threads; not thread-safe.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "dav/entry.h"

namespace davfp {

class ListingReceiver;

// The largest listing body held whole for a later parse.
inline constexpr size_t kHeldListingBody = 1 << 20;

// The status of the DavError that a listing fails with when its answer is no whole listing (see
// Listing::entries()): the server answered, but not with a listing, as a gateway does with 502. The platform
// gets "server unreachable", a failure to try again later: not "no such item", which would make it drop the
// folder's items. It is raised after the exchange, outside the server frame, so it never makes the client
// probe or look for its server anew.
inline constexpr int kBrokenListingStatus = 502;

class Listing {
 public:
  Listing() = default;

  // The entries in document order, as PropfindParser gives them; parses a held body now. Only an answer read
  // whole counts: one multistatus document parsed to its end without error, that describes what was asked
  // for (with depth 0 at least one resource, otherwise the folder itself among its entries). Anything else
  // (another document, an empty body, one cut off or ended early by an error or a limit) throws
  // DavError::status(kBrokenListingStatus): the entries read before the break are no folder's contents.
  std::vector<DavEntry> entries() &&;
  // Bytes held for a later parse: none for a body parsed while it arrived, or once entries() has run.
  size_t heldBytes() const { return body_.size(); }

 private:
  friend class ListingReceiver;

  // Throws unless the entries are those of a whole answer (complete) to the request.
  void checkWhole(bool complete, const std::vector<DavEntry>& entries) const;

  std::string basePath_;  // the base URL's decoded path, which entry paths are made relative to
  std::string path_;      // the path listed
  int depth_ = 1;
  std::string body_;
  bool parsed_ = false;    // the body was parsed while it arrived, into entries_
  bool complete_ = false;  // that parse read one whole multistatus document
  std::vector<DavEntry> entries_;
};

// The entries of a depth-1 listing of folder that are its direct children, in server order: neither the
// folder itself nor anything deeper (which some servers list), no entry named "." or "..", and each child
// once: of entries whose paths are equal as the engine compares them (the same href twice, or two spellings
// that differ only in Unicode composition) the first is kept. The state cannot tell such spellings apart, so
// the later one is left out rather than merged into the first.
std::vector<DavEntry> childrenOf(std::string_view folder, std::vector<DavEntry> listing);

}  // namespace davfp
