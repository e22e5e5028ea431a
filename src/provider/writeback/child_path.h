// The server path of an item that the platform creates, renames or moves: its parent's path joined with the
// name the platform gave. Pure function; safe from any thread.
#pragma once

#include <string>
#include <string_view>

namespace davfp {

// platform::join(parent, name) when name names one item: not empty, not "." or "..", without a "/", which
// would place the item in another folder than the one the platform asked for, and text (valid UTF-8):
// listings leave out a resource whose name is not, so an item written under such a name would be lost to the
// next change pass.
// Any other name is refused with the platform's invalid-file-name error (Cocoa 514) before anything is sent.
std::string childPath(std::string_view parent, std::string_view name);

}  // namespace davfp
