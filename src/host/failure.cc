#include "host/failure.h"

#include <cstring>

namespace davfp::cli {

using platform::Error;

Failure localFailure(const std::string& path, int err) {
  return Failure{path, Error(platform::kPOSIXErrorDomain, err, std::strerror(err)), {}};
}

std::string describe(const Error& error) {
  // The engine's errors carry no text; the program's own carry what a person should read.
  if (!error.message().empty()) return error.message();
  namespace fp = platform::fp;
  namespace cocoa = platform::cocoa;
  if (error.domain() == platform::kFileProviderErrorDomain) {
    switch (error.code()) {
      case fp::kNotAuthenticated:
        return "the server refused the credentials";
      case fp::kInsufficientQuota:
        return "the server has no room left";
      case fp::kServerUnreachable:
        return "the server cannot be reached";
      case fp::kNoSuchItem:
        return "no such item on the server";
      case fp::kDeletionRejected:
        return "not deleted: the server holds a newer version than the one deleted, or refuses the deletion";
      case fp::kDirectoryNotEmpty:
        return "the folder is not empty, or something in it could not be deleted";
    }
  } else if (error.domain() == platform::kCocoaErrorDomain) {
    switch (error.code()) {
      case cocoa::kFileWriteUnknown:
        return "the server refused the change";
      case cocoa::kFileWriteNoPermission:
        return "permission denied by the server";
      case cocoa::kUserCancelled:
        return "cancelled";
      case cocoa::kFeatureUnsupported:
        return "not supported by the extension";
    }
  }
  return "failed";
}

std::string humanMessage(const Failure& failure, bool verbose) {
  std::string line = "davfp: ";
  if (!failure.subject.empty()) line += failure.subject + ": ";
  line += describe(failure.error);
  if (verbose) {
    line += " (" + failure.error.domain() + " " + std::to_string(failure.error.code());
    if (!failure.error.cause().empty()) line += "; " + failure.error.cause();
    line += ")";
  }
  if (!failure.hint.empty()) line += "; " + failure.hint;
  return line;
}

}  // namespace davfp::cli
