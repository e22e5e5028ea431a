#include "provider/writeback/child_path.h"

#include "platform/error.h"
#include "state/paths.h"

namespace davfp {

namespace {
// NSFileWriteInvalidFileNameError: the platform's own answer to a name that cannot be written.
constexpr long kFileWriteInvalidFileName = 642;
}  // namespace

std::string childPath(std::string_view parent, std::string_view name) {
  if (name.empty() || name == "." || name == ".." || name.find('/') != std::string_view::npos) {
    throw platform::Error(platform::kCocoaErrorDomain, kFileWriteInvalidFileName,
                          "not a file name: \"" + std::string(name) + "\"");
  }
  return join(parent, name);
}

}  // namespace davfp
