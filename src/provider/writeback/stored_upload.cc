#include "provider/writeback/stored_upload.h"

#include <string>

#include "platform/error.h"

namespace davfp {

void checkStoredUpload(const DavEntry& stored, int64_t sent) {
  if (stored.isDir || !stored.size || *stored.size == sent) return;
  throw platform::Error(platform::kCocoaErrorDomain, platform::cocoa::kFileWriteUnknown,
                        "the server accepted the upload but lists " + std::to_string(*stored.size) +
                            " bytes for the file, not the " + std::to_string(sent) + " sent");
}

}  // namespace davfp
