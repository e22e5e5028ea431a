// URL questions of an HTTP session: which redirects it follows and where to, origins, and credentials.
// Pure functions on libcurl's URL parser; thread-safe.
//
// A 301, 302, 303, 307 or 308 answer with a Location is followed with the same method and body, except that a
// 303 turns every method but HEAD into a bodiless GET. A target on another origin (scheme, host or port
// differ) is followed only for reading methods (GET, HEAD, PROPFIND), and without credentials. An https URL
// never redirects to http, and only http and https targets are followed. Otherwise the 3xx answer is the
// response.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace davfp::platform {

struct RedirectStep {
  std::string url;  // absolute; carries the original credentials only when the origin is the same
  std::string method;
  bool keepBody = true;
  bool crossOrigin = false;  // credentials (userinfo, Authorization) must not travel with it
};

// The request that follows a response with this status and Location, or none when the response stands.
std::optional<RedirectStep> redirectStep(std::string_view method, const std::string& from, long status,
                                         const std::optional<std::string>& location);

// The URL's user name and password, for remembering what authenticated where; none when it has no user.
std::optional<std::string> userOf(const std::string& url);
// scheme://host:port with the scheme's default port filled in; none when url does not parse.
std::optional<std::string> originOf(const std::string& url);

// message with the user name and password of url blanked out, for error texts that may quote the URL.
std::string withoutCredentials(std::string message, const std::string& url);

// "METHOD /path" of a request to url, for saying which exchange failed: the path as sent, no host, no
// credentials, no query.
std::string requestLine(std::string_view method, const std::string& url);

}  // namespace davfp::platform
