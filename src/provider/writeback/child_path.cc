#include "provider/writeback/child_path.h"

#include "platform/error.h"
#include "platform/server_path.h"
#include "platform/text.h"

namespace davfp {

std::string childPath(std::string_view parent, std::string_view name) {
  if (name.empty() || name == "." || name == ".." || name.find('/') != std::string_view::npos ||
      !platform::isValidUtf8(name)) {
    throw platform::Error(platform::kCocoaErrorDomain, platform::cocoa::kFileWriteInvalidFileName,
                          "not a file name: \"" + std::string(name) + "\"");
  }
  return platform::join(parent, name);
}

}  // namespace davfp
