// The freedesktop base directories: $XDG_DATA_HOME and $XDG_DATA_DIRS, $XDG_CACHE_HOME, with their defaults.
// Read from the environment at each call; thread-safe as long as nobody changes the environment meanwhile.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace davfp::platform {

// $XDG_DATA_HOME, else $HOME/.local/share; none when neither names an absolute directory.
std::optional<std::string> xdgDataHome();

// $XDG_CACHE_HOME, else $HOME/.cache; none when neither names an absolute directory.
std::optional<std::string> xdgCacheHome();

// The data directories in order of importance: xdgDataHome() first, then each absolute entry of
// $XDG_DATA_DIRS (/usr/local/share:/usr/share when it is unset or empty). Relative entries are ignored,
// as the base directory rules require.
std::vector<std::string> xdgDataDirectories();

}  // namespace davfp::platform
