// Which drive the program works on: the domain that --domain names or, without it, the only drive that the
// host application publishes in drives.json. Only reads drives.json, afresh on each call.
#pragma once

#include <optional>
#include <string>

#include "host/failure.h"
#include "platform/env.h"

namespace davfp::cli {

struct Drive {
  std::string domain;
  std::string displayName;  // the drive's name in drives.json; the domain identifier when it is not listed
  bool published = true;    // listed in drives.json when the command began
};

// Throws UsageError when no domain is given and drives.json lists no drive or several (naming them), and
// Failure (server unreachable) when the named domain is not listed and no host application is installed
// that the engine could start to publish it.
Drive chooseDrive(const std::optional<std::string>& domain, platform::Env& env);

// A server-unreachable failure of a drive that drives.json did not list when the command began and does not
// list now means the host application was started but did not publish it; the failure then says so instead
// of blaming a server. Other failures come back unchanged.
Failure explainUnpublished(Failure failure, const Drive& drive, platform::Env& env);

// A failure because the server refused the drive's credentials names the drive. Others come back unchanged.
Failure explainRefused(Failure failure, const Drive& drive);

}  // namespace davfp::cli
