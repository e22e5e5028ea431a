// Listing: the answer to a PROPFIND as it was received, turned into entries afterwards, on any thread.
//
// A body of up to kHeldListingBody bytes is held whole, so that the exchange ends before its parse starts and
// the next request can go out while this answer is parsed. A larger body is parsed while it arrives, as
// Dav::list does: a huge folder's body is never held whole. A value, movable between threads; not
// thread-safe.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "dav/entry.h"

namespace davfp {

// The largest listing body held whole for a later parse.
inline constexpr size_t kHeldListingBody = 1 << 20;

class Listing {
 public:
  Listing() = default;

  // The entries in document order, as PropfindParser gives them; parses a held body now. Never fails.
  std::vector<DavEntry> entries() &&;
  // Bytes held for a later parse: none for a body parsed while it arrived, or once entries() has run.
  size_t heldBytes() const { return body_.size(); }

 private:
  friend class Dav;

  std::string basePath_;  // the base URL's decoded path, which entry paths are made relative to
  std::string body_;
  bool parsed_ = false;  // the body was parsed while it arrived, into entries_
  std::vector<DavEntry> entries_;
};

// The entries of a depth-1 listing of folder that are its direct children, in server order: neither the folder
// itself nor anything deeper (which some servers list).
std::vector<DavEntry> childrenOf(std::string_view folder, std::vector<DavEntry> listing);

}  // namespace davfp
