// The name under which a local version that collides with the server's is kept beside it:
// "NAME (conflict YYYY-MM-DD HHMMSS).EXT", the extension being what follows the last dot of a name that does
// not start with it. The time is the local time of when the collision was found.
#pragma once

#include <ctime>
#include <string>

namespace davfp::mount {

std::string conflictName(const std::string& name, std::time_t when);

}  // namespace davfp::mount
