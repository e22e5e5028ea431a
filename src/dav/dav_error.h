// DavError: the WebDAV client's error. An immutable value, safe to copy and share across threads.
#pragma once

#include <exception>
#include <string>

namespace davfp {

// Its cause says what lies underneath for the people who look into a failure
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

}  // namespace davfp
