// The one place where libcurl's transfer results become URL-loading errors with the platform's codes.
// Pure functions; thread-safe.
#pragma once

#include <curl/curl.h>

#include <string>

#include "platform/error.h"

namespace davfp::platform {

// The URL-loading error code for a libcurl result (urlerr::kUnknown for results without a closer match).
long urlErrorCode(CURLcode code);

// Error(kURLErrorDomain, urlErrorCode(code), message, cause).
Error transportError(CURLcode code, std::string message, std::string cause = {});

}  // namespace davfp::platform
