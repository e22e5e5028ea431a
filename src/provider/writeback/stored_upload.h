// The check after an upload: the entry that the server lists for the file once the PUT is answered must hold
// as many bytes as were sent. A server may answer a PUT with success and keep the old contents, or part of
// the new ones; the platform would then take for saved what the server does not have. Pure function; safe
// from any thread.
#pragma once

#include <cstdint>

#include "dav/entry.h"

namespace davfp {

// Throws the platform's failed-write error (Cocoa 512, naming both sizes) when the server lists a length for
// a file that differs from sent. An entry without a length, and a folder (lighttpd lists 4096 for them),
// pass: their length says nothing about the upload.
void checkStoredUpload(const DavEntry& stored, int64_t sent);

}  // namespace davfp
