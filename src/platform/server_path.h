// Server paths: "/"-separated, beginning with "/", percent-decoded, no trailing "/"; the root is "/". What
// the WebDAV client lists and the state remembers are such paths. Pure functions, safe from any thread.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace davfp::platform {

// The path of the parent: everything before the last "/", or "/" when that "/" is the first character or
// there is none.
std::string parentPath(std::string_view path);

// The child of parent named name; the name is inserted verbatim.
std::string join(std::string_view parent, std::string_view name);

// True when path equals folder or begins with folder followed by "/" (canonical comparison).
bool isUnder(std::string_view path, std::string_view folder);
// True when path is under any of the folders.
bool isUnderAny(std::string_view path, const std::vector<std::string>& folders);

}  // namespace davfp::platform
