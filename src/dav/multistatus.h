// The failure that a Multi-Status (207) answer to a DELETE or MOVE reports.
//
// Such an answer means the request did not do all that was asked: RFC 4918 lists in it the members that
// failed, or the request's own target with the status that refused it (lighttpd refuses a folder's MOVE onto
// an existing name this way, with 412). The failure is told by that status, so that it means what the same
// status would mean as the answer itself.
#pragma once

#include <optional>
#include <string_view>

#include "dav/dav_error.h"


namespace davfp {

// A DELETE or MOVE answered 207: a DavError::status() with the status read from the answer, or 207 itself
// when none can be read. Its own type, so that a caller can tell that part of a folder may be gone.
class MultiStatusFailure : public DavError {
 public:
  explicit MultiStatusFailure(int status) : DavError(DavError::status(status)) {}
};

// The status that a Multi-Status body gives as the failure of the request sent to url: that of the response
// for url itself (its href resolved against url, compared by decoded path, a trailing "/" aside) when it is
// not a success, else the first other status that is not a success (424 Failed Dependency only when no other
// is there, since it only points at another failure). None when no such status can be read: not XML, no
// failing status, or past the parse's limits (64 open elements, any entity declaration).
std::optional<int> multiStatusFailure(std::string_view body, std::string_view url);

}  // namespace davfp
