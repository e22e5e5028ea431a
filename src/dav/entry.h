// DavEntry: one resource as a PROPFIND response reports it. DavError: the WebDAV client's error.
// Both are immutable values, safe to copy and share across threads.
#pragma once

#include <chrono>
#include <cstdint>
#include <exception>
#include <optional>
#include <string>

namespace davfp {

struct DavEntry {
  std::string path;  // relative to the drive's base URL: begins with "/", percent-decoded, no trailing "/"
  bool isDir = false;
  // Content length in bytes; none when the server reports none, or a value that is no length (negative, not
  // a decimal integer, out of range).
  std::optional<int64_t> size;
  std::optional<std::chrono::system_clock::time_point> modified;
  std::optional<std::string> etag;  // as reported, trimmed, quotes and weak prefix kept

  // The last non-empty component of path; empty for the root.
  std::string name() const;
  // The change token: the entity tag, else size (0 when unknown) "-" whole seconds since 1970 (truncated
  // toward zero).
  std::string version() const;
};

// An error of the WebDAV client. Its cause says what lies underneath for the people who look into a failure
// ("PROPFIND /dav/a/: HTTP 404", "OPTIONS /dav/: connection refused"); it never holds credentials, and
// errors compare without it.
class DavError : public std::exception {
 public:
  // notAuthenticated: the server refused the drive's credentials (401) when it was probed.
  enum class Kind { status, unreachable, notFound, forbidden, notAuthenticated };

  static DavError status(int code) { return DavError(Kind::status, code); }
  static DavError unreachable() { return DavError(Kind::unreachable, 0); }
  static DavError notFound() { return DavError(Kind::notFound, 0); }
  static DavError forbidden() { return DavError(Kind::forbidden, 0); }
  static DavError notAuthenticated() { return DavError(Kind::notAuthenticated, 0); }

  // The same error with this cause.
  DavError because(std::string cause) const;
  const std::string& cause() const { return cause_; }

  Kind kind() const { return kind_; }
  // The HTTP status of a `status` error; 0 for the other cases.
  int code() const { return code_; }
  bool isStatus(int code) const { return kind_ == Kind::status && code_ == code; }

  bool operator==(const DavError& other) const { return kind_ == other.kind_ && code_ == other.code_; }
  const char* what() const noexcept override;

 private:
  DavError(Kind kind, int code);
  Kind kind_;
  int code_;
  std::string cause_;
  std::string what_;
};

// Versions compared weakly: a leading "W/" is ignored on both sides, then canonical text equality. A server
// may report the weak form of an entity tag for a moment after a write and the strong one afterwards.
bool sameVersion(std::string_view a, std::string_view b);

}  // namespace davfp
