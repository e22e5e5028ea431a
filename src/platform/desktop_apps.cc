#include "platform/desktop_apps.h"

namespace davfp::platform {

std::optional<std::string> findDesktopEntry(std::string_view) { return std::nullopt; }

void startDesktopEntry(const std::string&, const std::vector<std::string>&) {}

}  // namespace davfp::platform
