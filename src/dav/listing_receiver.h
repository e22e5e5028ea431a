// ListingReceiver: takes the body of a listing's answer as it arrives and makes the Listing of it.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "dav/listing.h"

namespace davfp {

class PropfindParser;

// Takes the body of a listing's answer as it arrives: holds it while it fits in kHeldListingBody, and from the
// piece that would outgrow that on parses it as it arrives (what was held first). Used by one thread at a time.
class ListingReceiver {
 public:
  // basePath: the base URL's decoded path, which entry paths are made relative to; path and depth: what the
  // PROPFIND asked for.
  ListingReceiver(std::string basePath, std::string_view path, int depth);
  ~ListingReceiver();
  ListingReceiver(const ListingReceiver&) = delete;
  ListingReceiver& operator=(const ListingReceiver&) = delete;

  // Takes the next piece of the body. False once the parse has stopped: the rest need not be read.
  bool take(std::string_view bytes);
  // The listing received: its held body, or the entries parsed so far. Call once, at the body's end.
  Listing listing();

 private:
  Listing listing_;
  std::unique_ptr<PropfindParser> parser_;  // none while the body is held
};

}  // namespace davfp
