#include "platform/mime_registry.h"

namespace davfp::platform {

std::optional<std::string> mimeTypeForExtension(std::string_view) { return std::nullopt; }

}  // namespace davfp::platform
