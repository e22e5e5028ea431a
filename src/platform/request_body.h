// RequestBody: the bytes of a request body, pulled piece by piece as libcurl sends them and rewound when the
// request goes out again (after an authentication challenge, on a reused connection that had died, after a
// redirect). Either bytes in memory, which the caller keeps alive, or a regular file streamed from disk so
// that memory does not grow with its size. A value used by one transfer at a time; not thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/unique_fd.h"

namespace davfp::platform {

class RequestBody {
 public:
  static RequestBody bytes(std::string_view data);
  // Opens the file now. Throws Error(kURLErrorDomain, kFileDoesNotExist) when there is no such file and
  // kCannotOpenFile when it cannot be opened or is not a regular file.
  static RequestBody file(const std::string& path);

  int64_t size() const { return size_; }
  // The bytes of a body in memory; none for a file.
  std::optional<std::string_view> inMemory() const {
    if (fd_) return std::nullopt;
    return data_;
  }
  // Copies up to n bytes from the current offset; 0 at the end. Throws Error(kURLErrorDomain,
  // kCannotOpenFile) when the file cannot be read or ends before the size it had when it was opened.
  size_t read(char* buffer, size_t n);
  void seek(int64_t offset) { offset_ = offset; }

 private:
  RequestBody() = default;

  std::string_view data_;
  UniqueFd fd_;
  std::string path_;
  int64_t size_ = 0;
  int64_t offset_ = 0;
};

}  // namespace davfp::platform
