// FsError: a failed file system operation as the kernel is to hear it, an errno value. errnoOf() turns the
// extension's errors into the errno that a program on the mount expects.
#pragma once

#include <exception>

#include "platform/error.h"

namespace davfp::mount {

class FsError : public std::exception {
 public:
  explicit FsError(int err) : err_(err) {}
  int err() const { return err_; }
  const char* what() const noexcept override { return "file system error"; }

 private:
  int err_;
};

int errnoOf(const platform::Error& error);

// The errno of the exception being handled (call it inside a catch): FsError's own, the platform error's,
// EIO for anything else.
int errnoOfCurrentException();

}  // namespace davfp::mount
