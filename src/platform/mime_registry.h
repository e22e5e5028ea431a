// The freedesktop shared-mime-info database as a type registry: filename extension -> MIME type name.
// Read once, on first use, from mime/globs2 under the XDG data directories. Thread-safe.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace davfp::platform {

inline constexpr std::string_view kFolderType = "inode/directory";
inline constexpr std::string_view kDataType = "application/octet-stream";
inline constexpr std::string_view kSymbolicLinkType = "inode/symlink";

// The MIME type registered for a filename extension (without the dot, matched as "*.ext"), or none.
std::optional<std::string> mimeTypeForExtension(std::string_view extension);

}  // namespace davfp::platform
