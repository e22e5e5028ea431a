// Errors of the platform's services: a domain and a code, as the operating system reports them, and the cause
// underneath when one is known (an HTTP status and the request it answered, libcurl's message and code), for
// the people who look into a failure. Thrown by value, caught by const reference; immutable, so safe to share
// across threads.
#pragma once

#include <exception>
#include <string>
#include <string_view>

namespace davfp::platform {

inline constexpr std::string_view kFileProviderErrorDomain = "NSFileProviderErrorDomain";
inline constexpr std::string_view kCocoaErrorDomain = "NSCocoaErrorDomain";
inline constexpr std::string_view kURLErrorDomain = "NSURLErrorDomain";
inline constexpr std::string_view kPOSIXErrorDomain = "NSPOSIXErrorDomain";

// File provider error codes.
namespace fp {
inline constexpr long kNotAuthenticated = -1000;
inline constexpr long kInsufficientQuota = -1003;
inline constexpr long kServerUnreachable = -1004;
inline constexpr long kNoSuchItem = -1005;
inline constexpr long kDeletionRejected = -1006;
inline constexpr long kDirectoryNotEmpty = -1007;
}  // namespace fp

// Cocoa error codes.
namespace cocoa {
inline constexpr long kFileWriteUnknown = 512;
inline constexpr long kFileWriteNoPermission = 513;
inline constexpr long kFileWriteInvalidFileName = 514;
inline constexpr long kUserCancelled = 3072;
inline constexpr long kFeatureUnsupported = 3328;
}  // namespace cocoa

// URL-loading error codes.
namespace urlerr {
inline constexpr long kUnknown = -1;
inline constexpr long kCancelled = -999;
inline constexpr long kBadURL = -1000;
inline constexpr long kTimedOut = -1001;
inline constexpr long kUnsupportedURL = -1002;
inline constexpr long kCannotFindHost = -1003;
inline constexpr long kCannotConnectToHost = -1004;
inline constexpr long kNetworkConnectionLost = -1005;
inline constexpr long kDNSLookupFailed = -1006;
inline constexpr long kHTTPTooManyRedirects = -1007;
inline constexpr long kResourceUnavailable = -1008;
inline constexpr long kNotConnectedToInternet = -1009;
inline constexpr long kRedirectToNonExistentLocation = -1010;
inline constexpr long kBadServerResponse = -1011;
inline constexpr long kUserAuthenticationRequired = -1013;
inline constexpr long kCannotParseResponse = -1017;
inline constexpr long kFileDoesNotExist = -1100;
inline constexpr long kSecureConnectionFailed = -1200;
inline constexpr long kServerCertificateUntrusted = -1202;
inline constexpr long kCannotCreateFile = -3000;
inline constexpr long kCannotOpenFile = -3001;
inline constexpr long kCannotWriteToFile = -3003;
}  // namespace urlerr

class Error : public std::exception {
 public:
  Error(std::string_view domain, long code, std::string message = {}, std::string cause = {});

  const std::string& domain() const { return domain_; }
  long code() const { return code_; }
  const std::string& message() const { return message_; }
  // What lies underneath, in a developer's words ("PROPFIND /dav/docs/: HTTP 404"); empty when unknown. Never
  // holds credentials.
  const std::string& cause() const { return cause_; }
  const char* what() const noexcept override { return what_.c_str(); }

  bool is(std::string_view domain, long code) const { return domain_ == domain && code_ == code; }

 private:
  std::string domain_;
  long code_;
  std::string message_;
  std::string cause_;
  std::string what_;
};

// A POSIX error from errno, with what failed in the message.
Error posixError(int err, std::string_view what);

// Thrown by a job that stops because it was asked to (the runtime's cancellation failure).
class Cancelled : public std::exception {
 public:
  const char* what() const noexcept override { return "cancelled"; }
};

}  // namespace davfp::platform
