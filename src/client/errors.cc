#include "client/errors.h"

#include <string>

namespace davfp::client {

platform::Error cancelledError() {
  return platform::Error(platform::kCocoaErrorDomain, platform::cocoa::kUserCancelled);
}

platform::Error brokenContract(std::string_view request) {
  return platform::Error(platform::kCocoaErrorDomain, platform::cocoa::kFileWriteUnknown,
                         "the extension answered " + std::string(request) + " without a result or an error");
}

}  // namespace davfp::client
