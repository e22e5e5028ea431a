#include "provider/frame.h"

#include "dav/entry.h"

namespace davfp {

using platform::Error;

namespace {

Error fileProviderError(long code) { return Error(platform::kFileProviderErrorDomain, code); }

Error fromDavError(const DavError& e) {
  switch (e.kind()) {
    case DavError::Kind::status: {
      int code = e.code();
      if (code == 507) return fileProviderError(platform::fp::kInsufficientQuota);
      // A success status as a failure: a Multi-Status answer in which no failing status could be read. The
      // request did not do what was asked, and sending it again would not change that.
      if (code == 207 || (code >= 400 && code <= 499 && code != 408 && code != 429)) {
        return Error(platform::kCocoaErrorDomain, platform::cocoa::kFileWriteUnknown);
      }
      return fileProviderError(platform::fp::kServerUnreachable);
    }
    case DavError::Kind::unreachable: return fileProviderError(platform::fp::kServerUnreachable);
    case DavError::Kind::notFound: return fileProviderError(platform::fp::kNoSuchItem);
    case DavError::Kind::forbidden: return Error(platform::kCocoaErrorDomain, platform::cocoa::kFileWriteNoPermission);
  }
  return fileProviderError(platform::fp::kServerUnreachable);
}

}  // namespace

Error fpError(std::exception_ptr error) {
  try {
    std::rethrow_exception(error);
  } catch (const DavError& e) {
    return fromDavError(e);
  } catch (const Error& e) {
    if (e.domain() == platform::kFileProviderErrorDomain || e.domain() == platform::kCocoaErrorDomain) return e;
    return fileProviderError(platform::fp::kServerUnreachable);
  } catch (...) {
    return fileProviderError(platform::fp::kServerUnreachable);
  }
}

}  // namespace davfp
