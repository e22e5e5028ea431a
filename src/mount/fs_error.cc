#include "mount/fs_error.h"

#include <cerrno>

namespace davfp::mount {

int errnoOf(const platform::Error& error) {
  namespace fp = platform::fp;
  namespace cocoa = platform::cocoa;
  if (error.domain() == platform::kFileProviderErrorDomain) {
    switch (error.code()) {
      case fp::kNoSuchItem:
        return ENOENT;
      case fp::kDirectoryNotEmpty:
        return ENOTEMPTY;
      case fp::kDeletionRejected:
        return EBUSY;
      case fp::kNotAuthenticated:
        return EACCES;
      case fp::kInsufficientQuota:
        return EDQUOT;
      default:
        return EIO;
    }
  }
  if (error.domain() == platform::kCocoaErrorDomain) {
    switch (error.code()) {
      case cocoa::kFileWriteUnknown:
        return EEXIST;
      case cocoa::kFileWriteNoPermission:
        return EACCES;
      case cocoa::kFileWriteInvalidFileName:
        return EINVAL;
      case cocoa::kUserCancelled:
        return EINTR;
      case cocoa::kFeatureUnsupported:
        return ENOTSUP;
      default:
        return EIO;
    }
  }
  if (error.domain() == platform::kPOSIXErrorDomain && error.code() > 0)
    return static_cast<int>(error.code());
  return EIO;
}

int errnoOfCurrentException() {
  try {
    throw;
  } catch (const FsError& e) {
    return e.err();
  } catch (const platform::Error& e) {
    return errnoOf(e);
  } catch (...) {
    return EIO;
  }
}

}  // namespace davfp::mount
