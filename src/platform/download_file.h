// DownloadFile: the file a download streams into: created new (exclusively, mode 0600) in a directory under a
// fresh UUID name, and removed again unless the download is kept. Not thread-safe: one writer.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/unique_fd.h"

namespace davfp::platform {

class DownloadFile {
 public:
  // Throws Error(kURLErrorDomain, kCannotCreateFile) when the file cannot be created.
  explicit DownloadFile(const std::string& directory);
  // Removes the file unless keep() was called.
  ~DownloadFile();
  DownloadFile(const DownloadFile&) = delete;
  DownloadFile& operator=(const DownloadFile&) = delete;

  const std::string& path() const { return path_; }
  // The bytes written so far.
  int64_t size() const { return size_; }
  // Throws Error(kURLErrorDomain, kCannotWriteToFile).
  void write(std::string_view bytes);
  // Closes the file and leaves it to the caller. Throws Error(kURLErrorDomain, kCannotWriteToFile) when the
  // close reports a failed write.
  void keep();

 private:
  std::string path_;
  UniqueFd fd_;
  int64_t size_ = 0;
  bool kept_ = false;
};

}  // namespace davfp::platform
