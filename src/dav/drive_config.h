// Drive configuration: which drive a file provider domain presents and where the host application publishes
// it now, read from "drives.json" in the container that the host application shares with the extension. The
// file belongs to the host application: it is only read here, afresh on every call, never cached.
// Stateless functions, safe to call from any thread. The application group and the host application's bundle
// identifier are the platform's (platform/app_identity.h).
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "platform/env.h"

namespace davfp {

// The drive list, directly in the shared container.
inline constexpr std::string_view kDrivesFileName = "drives.json";

// One configured drive.
struct DriveInfo {
  std::string name;  // as the host application shows it; carried, not used by the engine
  std::string url;   // where the drive's WebDAV tree is published now, as text (not validated here)

  bool operator==(const DriveInfo&) const = default;
};

// The shared container, or none when the platform names none. Creates nothing.
std::optional<std::string> groupDir(platform::Env& env = platform::Env::standard());

// The drive list as "drives.json" holds it: domain identifier -> drive. All or nothing: none when the bytes
// are not one JSON object whose every member is an object with the string members "name" and "url" (other
// members are ignored).
std::optional<std::map<std::string, DriveInfo>> decodeDrives(std::string_view bytes);

// The drive that the domain presents, or none: no shared container, no readable "drives.json", a file that
// does not decode, or no entry for the domain. Domain identifiers match case-sensitively, composed and
// decomposed Unicode text alike. Never throws.
std::optional<DriveInfo> driveInfo(std::string_view domain, platform::Env& env = platform::Env::standard());

}  // namespace davfp
