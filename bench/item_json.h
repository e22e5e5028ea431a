// One item as one line of JSON, the way the davfp program prints items:
// {"id","parent","name","type","size","modified","contentVersion","metadataVersion","capabilities"}, size and
// modified null when absent, modified in RFC 3339 UTC. Written straight into a string. Pure function.
#pragma once

#include <string>

#include "platform/file_provider.h"

namespace davfp::bench {

// Appends the item's line, with its line break, to out.
void appendItemLine(std::string& out, const platform::ItemProtocol& item);

}  // namespace davfp::bench
