// Applications as freedesktop desktop entries: finding "<bundleID>.desktop" in the XDG data directories and
// starting its Exec command detached. Linux only; used by the standard Env.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace davfp::platform {

// The path of the desktop entry "<bundleID>.desktop" in $XDG_DATA_HOME/applications or
// $XDG_DATA_DIRS/*/applications (first found), or none.
std::optional<std::string> findDesktopEntry(std::string_view bundleID);

// Starts the entry's Exec command (field codes removed) with the arguments appended, in a new session,
// detached, output to /dev/null, not waited for. Failures are dropped.
void startDesktopEntry(const std::string& entryPath, const std::vector<std::string>& arguments);

}  // namespace davfp::platform
