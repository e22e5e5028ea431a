// URLs: parsing URL references (RFC 3986), composing them, and percent-encoding. Pure functions.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace davfp::platform {

// A parsed URL reference. Components keep their percent-encoded form as written.
struct Url {
  std::string scheme;                    // lower-case; empty for a relative reference
  bool hasAuthority = false;             // "//" present
  std::optional<std::string> user;       // userinfo before ":"
  std::optional<std::string> password;   // userinfo after ":"
  std::string host;                      // as written; IPv6 literals keep their brackets
  std::optional<int> port;
  std::string path;                      // percent-encoded
  std::optional<std::string> query;      // without "?"
  std::optional<std::string> fragment;   // without "#"

  // Parses an absolute URL or a relative reference; none when text is not a valid RFC 3986 reference
  // (spaces, control characters, malformed escapes, a bad port...).
  static std::optional<Url> parse(std::string_view text);

  // The URL written out again (the platform's absoluteString).
  std::string absoluteString() const;
  // The same URL without user name and password.
  std::string withoutCredentials() const;
  // scheme://host[:port], for telling origins apart. The port is the explicit or the scheme's default one.
  std::string origin() const;
  int effectivePort() const;
  // The path percent-decoded; the encoded path when it does not decode to UTF-8.
  std::string decodedPath() const;
};

// Resolves a reference against a base URL (RFC 3986 section 5.2); none when the result is not a valid URL.
std::optional<Url> resolveReference(const Url& base, std::string_view reference);

// Percent-encodes every byte that `allowed` rejects, as upper-case hexadecimal.
std::string percentEncode(std::string_view s, bool (*allowed)(unsigned char));

// What percentDecode makes of a "%" that begins no well-formed escape: a failure, or the "%" itself (what a
// server that leaves "%" unescaped in an href means).
enum class MalformedEscape { fail, keep };

// Percent-decodes; none when the result is not valid UTF-8, or when an escape is malformed and malformed is
// fail.
std::optional<std::string> percentDecode(std::string_view s, MalformedEscape malformed = MalformedEscape::fail);

}  // namespace davfp::platform
