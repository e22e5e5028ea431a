// Which drive the program works on: the domain that --domain names or, without it, the only drive that the
// host application publishes in drives.json. Reads drives.json once; never writes anything.
#pragma once

#include <optional>
#include <string>

#include "platform/env.h"

namespace davfp::cli {

struct Drive {
  std::string domain;
  std::string displayName;  // the drive's name in drives.json; the domain identifier when it is not listed
};

// Throws UsageError when no domain is given and drives.json lists no drive or several (naming them), and
// Failure (server unreachable) when the named domain is not listed and no host application is installed
// that the engine could start to publish it.
Drive chooseDrive(const std::optional<std::string>& domain, platform::Env& env);

}  // namespace davfp::cli
