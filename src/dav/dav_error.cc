#include "dav/dav_error.h"

namespace davfp {

DavError::DavError(Kind kind, int code) : kind_(kind), code_(code) {
  switch (kind) {
    case Kind::status: what_ = "WebDAV status " + std::to_string(code); break;
    case Kind::unreachable: what_ = "WebDAV server unreachable"; break;
    case Kind::notFound: what_ = "WebDAV resource not found"; break;
    case Kind::forbidden: what_ = "WebDAV access forbidden"; break;
    case Kind::notAuthenticated: what_ = "WebDAV credentials refused"; break;
  }
}

DavError DavError::because(std::string cause) const {
  DavError error(kind_, code_);
  error.cause_ = std::move(cause);
  if (!error.cause_.empty()) error.what_ += " (" + error.cause_ + ")";
  return error;
}

const char* DavError::what() const noexcept { return what_.c_str(); }

}  // namespace davfp
