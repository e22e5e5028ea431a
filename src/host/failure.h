// How a command fails. A Failure is work that could not be done (exit status 1): the error the engine or the
// local system gave, and what it was about (a drive path, a local file, an identifier). A UsageError is a
// command line that does not say what to do (exit status 2). Both are plain values, thrown and caught on the
// main thread.
#pragma once

#include <stdexcept>
#include <string>

#include "platform/error.h"

namespace davfp::cli {

struct Failure {
  std::string subject;  // may be empty
  platform::Error error;
  std::string hint;  // what the person may do about it; may be empty
};

class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Runs a request about subject; its failure names the subject.
template <class F>
auto about(const std::string& subject, F request) {
  try {
    return request();
  } catch (const platform::Error& e) {
    throw Failure{subject, e, {}};
  }
}

// A failure of the local system (errno) about a local path.
Failure localFailure(const std::string& path, int err);

// What an error means, in words a person understands ("no such item on the server").
std::string describe(const platform::Error& error);

// The one line a person reads: "davfp: SUBJECT: DESCRIPTION[ (DOMAIN CODE[; CAUSE])][; HINT]", the platform's
// domain and code, and the cause underneath when known, when verbose.
std::string humanMessage(const Failure& failure, bool verbose);

}  // namespace davfp::cli
