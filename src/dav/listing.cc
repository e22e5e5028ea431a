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

ListingReceiver::ListingReceiver(std::string basePath) { listing_.basePath_ = std::move(basePath); }

ListingReceiver::~ListingReceiver() = default;

bool ListingReceiver::take(std::string_view bytes) {
  if (!parser_) {
    if (listing_.body_.size() + bytes.size() <= kHeldListingBody) {
      listing_.body_.append(bytes);
      return true;
    }
    parser_ = std::make_unique<PropfindParser>(listing_.basePath_);
    parser_->feed(listing_.body_);
    std::string().swap(listing_.body_);
  }
  parser_->feed(bytes);
  return !parser_->stopped();
}

Listing ListingReceiver::listing() {
  if (parser_) {
    listing_.entries_ = parser_->finish();
    listing_.parsed_ = true;
    parser_.reset();
  }
  return std::move(listing_);
}

std::vector<DavEntry> childrenOf(std::string_view folder, std::vector<DavEntry> listing) {
  // Filtered in place: a second vector would hold a large listing twice.
  std::erase_if(listing, [&](const DavEntry& e) {
    return platform::canonicalEqual(e.path, folder) || !platform::canonicalEqual(parentPath(e.path), folder);
  });
  return listing;
}

}  // namespace davfp
