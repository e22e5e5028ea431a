#include "dav/listing_receiver.h"

#include <utility>

#include "dav/propfind_parser.h"

namespace davfp {

ListingReceiver::ListingReceiver(std::string basePath, std::string_view path, int depth) {
  listing_.basePath_ = std::move(basePath);
  listing_.path_ = path.empty() ? "/" : std::string(path);
  listing_.depth_ = depth;
}

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
    listing_.complete_ = parser_->complete();
    listing_.parsed_ = true;
    parser_.reset();
  }
  return std::move(listing_);
}

}  // namespace davfp
