#include "provider/frame.h"

#include "dav/dav_error.h"

namespace davfp {

using platform::Error;

namespace {

// The platform's error, carrying the cause of the error it stands for.
Error fileProviderError(long code, std::string cause = {}) {
  return Error(platform::kFileProviderErrorDomain, code, {}, std::move(cause));
}
Error cocoaError(long code, std::string cause) {
  return Error(platform::kCocoaErrorDomain, code, {}, std::move(cause));
}

Error fromDavError(const DavError& e) {
  std::string cause = e.cause();
  switch (e.kind()) {
    case DavError::Kind::status: {
      int code = e.code();
      if (code == 507) return fileProviderError(platform::fp::kInsufficientQuota, std::move(cause));
      // A success status as a failure: a Multi-Status answer in which no failing status could be read. The
      // request did not do what was asked, and sending it again would not change that.
      if (code == 207 || (code >= 400 && code <= 499 && code != 408 && code != 429)) {
        return cocoaError(platform::cocoa::kFileWriteUnknown, std::move(cause));
      }
      return fileProviderError(platform::fp::kServerUnreachable, std::move(cause));
    }
    case DavError::Kind::unreachable:
      return fileProviderError(platform::fp::kServerUnreachable, std::move(cause));
    case DavError::Kind::notFound:
      return fileProviderError(platform::fp::kNoSuchItem, std::move(cause));
    case DavError::Kind::forbidden:
      return cocoaError(platform::cocoa::kFileWriteNoPermission, std::move(cause));
    case DavError::Kind::notAuthenticated:
      return fileProviderError(platform::fp::kNotAuthenticated, std::move(cause));
  }
  return fileProviderError(platform::fp::kServerUnreachable, std::move(cause));
}

}  // namespace

Error fpError(std::exception_ptr error) {
  try {
    std::rethrow_exception(error);
  } catch (const DavError& e) {
    return fromDavError(e);
  } catch (const Error& e) {
    if (e.domain() == platform::kFileProviderErrorDomain || e.domain() == platform::kCocoaErrorDomain) return e;
    // A URL-loading or local failure: the server cannot be reached, and what went wrong stays its cause.
    return fileProviderError(platform::fp::kServerUnreachable, e.cause().empty() ? e.message() : e.cause());
  } catch (...) {
    return fileProviderError(platform::fp::kServerUnreachable);
  }
}

}  // namespace davfp
