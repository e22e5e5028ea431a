#include "dav/listing.h"

#include "dav/propfind_parser.h"
#include "platform/text.h"
#include "state/paths.h"

namespace davfp {

std::vector<DavEntry> Listing::entries() && {
  if (parsed_) return std::move(entries_);
  auto entries = PropfindParser::parse(body_, basePath_);
  std::string().swap(body_);
  return entries;
}

std::vector<DavEntry> childrenOf(std::string_view folder, std::vector<DavEntry> listing) {
  // Filtered in place: a second vector would hold a large listing twice.
  std::erase_if(listing, [&](const DavEntry& e) {
    return platform::canonicalEqual(e.path, folder) || !platform::canonicalEqual(parentPath(e.path), folder);
  });
  return listing;
}

}  // namespace davfp
