// URLs: one model on libcurl's URL parser, and the percent-coding the engine needs.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/curl_handles.h"

namespace davfp::platform {

// An absolute URL with a host (http://host[:port]/path?query#fragment). Components keep their percent-encoded
// form as written, the path its "." and ".." segments. Copyable; one object is not to be used from two
// threads at once.
class Url {
 public:
  // How strictly parse() reads its text.
  enum class Syntax {
    // A URL reference of RFC 3986: printable ASCII from its character set, every "%" a well-formed escape,
    // "[" and "]" only around an IPv6 host, at most one "#". What a drive's address and an href must be.
    strict,
    // Whatever libcurl's parser accepts: for URLs already sent, which only need taking apart.
    asSent,
  };

  // None when text is not an absolute URL with a host under syntax.
  static std::optional<Url> parse(std::string_view text, Syntax syntax = Syntax::strict);

  Url(const Url& other);
  Url& operator=(const Url& other);
  Url(Url&&) noexcept = default;
  Url& operator=(Url&&) noexcept = default;

  // The reference resolved against this URL (RFC 3986 section 5.2, "." and ".." segments removed); none
  // when the result is not a valid URL. Location headers are read leniently, as libcurl follows them: raw
  // spaces and non-ASCII bytes are percent-encoded rather than refused (Syntax::asSent).
  std::optional<Url> resolve(std::string_view reference, Syntax syntax = Syntax::strict) const;

  std::string scheme() const;  // lower-case
  std::string host() const;    // as written; IPv6 literals keep their brackets
  std::string path() const;    // percent-encoded; empty when the URL has none
  std::optional<std::string> user() const;
  std::optional<std::string> password() const;
  std::optional<std::string> query() const;     // without "?"
  std::optional<std::string> fragment() const;  // without "#"

  // scheme://host:port, lower-case, with the scheme's default port filled in: for telling origins apart.
  std::string origin() const;
  // The path percent-decoded; the encoded path when it does not decode to UTF-8.
  std::string decodedPath() const;

  // The URL written out again.
  std::string absoluteString() const;
  // The same URL without user name and password.
  std::string withoutCredentials() const;

  // Sets or clears (none) the user name and password, both given percent-encoded.
  void setCredentials(const std::optional<std::string>& user, const std::optional<std::string>& password);
  void clearFragment();

 private:
  Url(curl::UrlPtr handle, bool emptyPath) : handle_(std::move(handle)), emptyPath_(emptyPath) {}
  std::optional<std::string> part(CURLUPart which, unsigned flags = 0) const;
  std::string written(bool withCredentials) const;

  curl::UrlPtr handle_;
  bool emptyPath_ = false;  // written without a path: libcurl reports "/" for it
};

// The path of a URL reference as written, percent-encoded: an absolute URL's path, or a relative reference's
// path before its query or fragment. None when the reference is not valid under Syntax::strict.
std::optional<std::string> pathOfReference(std::string_view reference);

// Percent-encodes every byte that `allowed` rejects, as upper-case hexadecimal.
std::string percentEncode(std::string_view s, bool (*allowed)(unsigned char));

// What percentDecode makes of a "%" that begins no well-formed escape: a failure, or the "%" itself (what a
// server that leaves "%" unescaped in an href means).
enum class MalformedEscape { fail, keep };

// Percent-decodes; none when the result is not valid UTF-8, or when an escape is malformed and malformed is
// fail.
std::optional<std::string> percentDecode(std::string_view s, MalformedEscape malformed = MalformedEscape::fail);

}  // namespace davfp::platform
