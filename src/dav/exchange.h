// exchange(): one request of the WebDAV client whose answer is read only as far as anyone needs it. No state
// of its own; safe from any number of threads (the session is).
#pragma once

#include <cstddef>
#include <string>

#include "platform/url_session.h"

namespace davfp {

// The most of an answer's body that is read, except for listings and downloads.
inline constexpr size_t kMaxAnswerBody = 1 << 20;

// Thrown from a body callback to end a transfer whose body is not read further: the rest would be ignored,
// and a hostile server could send it without end. The callback's caller catches it.
struct BodyEnded {};

// Sends the request and returns the head of its response, judged by check() first when checked is set (a
// failed status ends the exchange there). At most kMaxAnswerBody bytes of the body are kept in body, when
// given, and no more is read: no answer to a probe, MKCOL, PUT, MOVE or DELETE needs more.
platform::HttpResponse exchange(platform::UrlSession& session, const platform::HttpRequest& request,
                                bool checked, std::string* body = nullptr);

}  // namespace davfp
