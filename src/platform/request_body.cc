#include "platform/request_body.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/error.h"

namespace davfp::platform {

namespace {

Error fileError(long code, int err, const std::string& what) {
  return Error(kURLErrorDomain, code, what + ": " + std::strerror(err));
}

}  // namespace

RequestBody RequestBody::bytes(std::string_view data) {
  RequestBody body;
  body.data_ = data;
  body.size_ = static_cast<int64_t>(data.size());
  return body;
}

RequestBody RequestBody::file(const std::string& path) {
  RequestBody body;
  body.path_ = path;
  body.fd_.reset(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!body.fd_) {
    int err = errno;
    throw fileError(err == ENOENT || err == ENOTDIR ? urlerr::kFileDoesNotExist : urlerr::kCannotOpenFile,
                    err, "opening the body file " + path);
  }
  struct stat st {};
  if (::fstat(body.fd_.get(), &st) != 0) throw fileError(urlerr::kCannotOpenFile, errno, "reading " + path);
  if (!S_ISREG(st.st_mode)) {
    throw Error(kURLErrorDomain, urlerr::kCannotOpenFile, "the body file " + path + " is not a regular file");
  }
  body.size_ = st.st_size;
  return body;
}

size_t RequestBody::read(char* buffer, size_t n) {
  n = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(n), std::max<int64_t>(size_ - offset_, 0)));
  if (n == 0) return 0;
  if (!fd_) {
    std::memcpy(buffer, data_.data() + offset_, n);
    offset_ += static_cast<int64_t>(n);
    return n;
  }
  for (;;) {
    ssize_t got = ::pread(fd_.get(), buffer, n, offset_);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) throw fileError(urlerr::kCannotOpenFile, errno, "reading the body file " + path_);
    if (got == 0) {
      // The announced Content-Length can no longer be met; sending fewer bytes would store a cut file.
      throw Error(kURLErrorDomain, urlerr::kCannotOpenFile,
                  "the body file " + path_ + " shrank while being sent");
    }
    offset_ += got;
    // The descriptor's own position follows what was sent, so that how far the upload got can be seen
    // from outside (a progress bar reads it); pread alone leaves it at 0.
    ::lseek(fd_.get(), offset_, SEEK_SET);
    return static_cast<size_t>(got);
  }
}

}  // namespace davfp::platform
