// Write-back is not built yet: every write request is refused as unsupported.
#include "provider/extension.h"

namespace davfp {

namespace {
[[noreturn]] void unsupported() {
  throw platform::Error(platform::kCocoaErrorDomain, platform::cocoa::kFeatureUnsupported);
}
}  // namespace

ItemPtr FileProviderExtension::create(const platform::ItemProtocol&, const std::optional<std::string>&) {
  unsupported();
}

std::pair<ItemPtr, platform::ItemFields> FileProviderExtension::modify(const platform::ItemProtocol&,
                                                                       platform::ItemFields,
                                                                       const std::optional<std::string>&) {
  unsupported();
}

void FileProviderExtension::remove(const platform::ItemIdentifier&, const std::string&, bool) { unsupported(); }

void FileProviderExtension::deleteTree(const DavEntry&, const std::string&, bool) { unsupported(); }

}  // namespace davfp
