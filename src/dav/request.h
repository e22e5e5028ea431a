// The request layer's pure functions: the request URL of a server path, the mapping of an HTTP status to
// DavError, and of lost connections to DavError::unreachable(). No state; safe from any number of threads.
#pragma once

#include <array>
#include <exception>
#include <string>
#include <string_view>

#include "platform/error.h"
#include "platform/url_session.h"

namespace davfp {

// The URL-loading error codes that mean the server at the current base URL is gone: refused or unreachable,
// lost mid-exchange, timed out. No other code counts (not even "not connected" or "cannot find host").
inline constexpr std::array<long, 3> kConnectionLost = {platform::urlerr::kCannotConnectToHost,
                                                        platform::urlerr::kNetworkConnectionLost,
                                                        platform::urlerr::kTimedOut};

// The request URL of a server path on a base URL (an absolute URL string). Each component of path is
// percent-encoded (upper-case hex; RFC 3986 path characters except "?#;" stay, "%" is always encoded) and
// appended to base, with one "/" between. The root ("/" or empty) gives base with exactly one trailing "/";
// other paths give no trailing "/" unless collection is true.
// Throws DavError::status(400) when the result is not a valid URL, when the base has a query or fragment
// (which would swallow the path), or when path holds a "." or ".." component
// or, other than the root, an empty one (a hostile listing can produce them from %2E%2E or doubled slashes):
// nothing outside the base URL may ever be addressed, and no path may address anything but what it names
// ("//" would address the root, "/a/" the folder a).
std::string requestUrl(std::string_view path, std::string_view base, bool collection = false);

// Judges an HTTP response: 2xx passes; 401 and 403 throw DavError::forbidden(), 404 DavError::notFound(),
// anything else DavError::status(code), each because of "METHOD /path: HTTP status". A response without an
// HTTP status (0: not an HTTP exchange) passes.
void check(const platform::HttpResponse& response);

// What lies underneath a platform error: its cause, else its message.
std::string causeOf(const platform::Error& e);

// True when e is a URL-loading platform::Error whose code is in kConnectionLost.
bool isConnectionLost(const std::exception& e);

// The error that leaves the WebDAV client: a lost connection becomes DavError::unreachable() with the
// connection's cause; every other error (and a null pointer) is returned unchanged.
std::exception_ptr mapped(std::exception_ptr e);

}  // namespace davfp
