// The platform commands' output: items, changes, anchors and errors as JSON objects, one per line.
// Pure functions.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "host/failure.h"
#include "platform/file_provider.h"

namespace davfp::cli {

// {"id","parent","name","type","size","modified","contentVersion","metadataVersion","capabilities"}; type,
// size and modified are null when the item does not answer them; versions as text.
nlohmann::ordered_json itemJson(const platform::ItemProtocol& item);

// The same object as itemJson's, on one line with its line break, appended to out: written straight into the
// text, for listings of many items.
void appendItemLine(std::string& out, const platform::ItemProtocol& item);

// {"error":{"domain":D,"code":N,"message":M}}
nlohmann::ordered_json errorJson(const platform::Error& error);

// A date in RFC 3339, UTC, whole seconds: "2024-05-01T12:03:04Z".
std::string rfc3339(platform::Date date);

// The object on one line, with a line break. Bytes that are not UTF-8 (a server's odd name) are replaced
// rather than failing the output.
std::string jsonLine(const nlohmann::ordered_json& value);

}  // namespace davfp::cli
