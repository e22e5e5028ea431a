// The identifiers by which the platform knows the host application and its extension: the application group
// whose container they share, and the host application's bundle identifier (by which it is located and
// started; the extension's own data directory is named after it). Constants only.
#pragma once

#include <string_view>

namespace davfp::platform {

// The application group shared by the host application and the extension.
inline constexpr std::string_view kAppGroup = "org.davfp.shared";
// The host application's bundle identifier.
inline constexpr std::string_view kAppBundleID = "org.davfp.host";

}  // namespace davfp::platform
