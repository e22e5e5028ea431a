#include "platform/error.h"

#include <cstring>

namespace davfp::platform {

Error::Error(std::string_view domain, long code, std::string message, std::string cause)
    : domain_(domain), code_(code), message_(std::move(message)), cause_(std::move(cause)) {
  what_ = domain_ + " " + std::to_string(code_);
  if (!message_.empty()) what_ += ": " + message_;
  if (!cause_.empty()) what_ += " (" + cause_ + ")";
}

Error posixError(int err, std::string_view what) {
  std::string message(what);
  message += ": ";
  message += std::strerror(err);
  return Error(kPOSIXErrorDomain, err, std::move(message));
}

}  // namespace davfp::platform
