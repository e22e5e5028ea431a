#include "platform/download_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/error.h"
#include "platform/uuid.h"

namespace davfp::platform {

namespace {

Error fileError(long code, int err, const std::string& what) {
  return Error(kURLErrorDomain, code, what + ": " + std::strerror(err));
}

}  // namespace

DownloadFile::DownloadFile(const std::string& directory) {
  path_ = directory;
  if (path_.empty() || path_.back() != '/') path_ += '/';
  path_ += uuidString();
  fd_.reset(::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
  if (!fd_) throw fileError(urlerr::kCannotCreateFile, errno, "creating the download file " + path_);
}

DownloadFile::~DownloadFile() {
  if (kept_) return;
  fd_.reset();
  ::unlink(path_.c_str());
}

void DownloadFile::write(std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = ::write(fd_.get(), bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw fileError(urlerr::kCannotWriteToFile, errno, "writing the download file " + path_);
    bytes.remove_prefix(static_cast<size_t>(n));
    size_ += n;
  }
}

void DownloadFile::keep() {
  // Linux closes the descriptor even when close() is interrupted; only a real error means lost bytes.
  if (::close(fd_.release()) != 0 && errno != EINTR) {
    throw fileError(urlerr::kCannotWriteToFile, errno, "writing the download file " + path_);
  }
  kept_ = true;
}

}  // namespace davfp::platform
