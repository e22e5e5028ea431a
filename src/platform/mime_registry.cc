#include "platform/mime_registry.h"

#include <mutex>

#include "platform/mime_globs.h"

namespace davfp::platform {

namespace {

// The database of this user and system, read on first use. Later changes to it are not seen until the
// process restarts, like the platform's own type registry.
const MimeGlobs& installedGlobs() {
  static std::once_flag once;
  static const MimeGlobs* globs = nullptr;  // never destroyed: lookups may run in detached jobs at exit
  std::call_once(once, [] { globs = new MimeGlobs(MimeGlobs::load(installedGlobs2Files())); });
  return *globs;
}

}  // namespace

std::optional<std::string> mimeTypeForExtension(std::string_view extension) {
  return installedGlobs().typeFor(extension);
}

}  // namespace davfp::platform
