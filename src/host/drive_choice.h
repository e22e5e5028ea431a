// Which drive the program works on: the domain that --domain names or, without it, the default drive that the
// host application records next to drives.json (davfp-host default ID), else the only drive it publishes in
// drives.json. Only reads those files, afresh on each call.
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

// The file next to drives.json that names the default drive: its identifier on one line.
inline constexpr const char* kDefaultDriveFileName = "default-drive";

// Without a domain, the default drive is taken as if named. Throws Failure when no domain is given, there is
// no default and drives.json lists no drive (server unreachable) or several (invalid argument, naming them),
// and when the named domain is not listed and no host application is installed that the engine could start
// to publish it (server unreachable).
Drive chooseDrive(const std::optional<std::string>& domain, platform::Env& env);

// A server-unreachable failure of a drive that drives.json did not list when the command began and does not
// list now means the host application was started but did not publish it; the failure then says so instead
// of blaming a server. Other failures come back unchanged.
Failure explainUnpublished(Failure failure, const Drive& drive, platform::Env& env);

// A failure because the server refused the drive's credentials names the drive. Others come back unchanged.
Failure explainRefused(Failure failure, const Drive& drive);

}  // namespace davfp::cli
