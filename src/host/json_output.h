// The platform commands' output: items, changes, anchors and errors as JSON objects, one per line.
// Pure functions.
#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "host/failure.h"
#include "platform/file_provider.h"

namespace davfp::cli {

// {"id","parent","name","type","size","modified","contentVersion","metadataVersion","capabilities",
// "capabilityNames","path"}; type, size and modified are null when the item does not answer them; versions
// as text; capabilityNames the names of the capability bits set ("reading", "writing", ...); path the item's
// path on the drive ("/" for the root), null when not known.
nlohmann::ordered_json itemJson(const platform::ItemProtocol& item, const std::optional<std::string>& path);
// With the path the item itself tells (evidentPath).
nlohmann::ordered_json itemJson(const platform::ItemProtocol& item);

// The same object as itemJson's, on one line with its line break, appended to out: written straight into the
// text, for listings of many items.
void appendItemLine(std::string& out, const platform::ItemProtocol& item,
                    const std::optional<std::string>& path);
void appendItemLine(std::string& out, const platform::ItemProtocol& item);

// The path an item tells by itself, without asking anything: "/" for the root, "/NAME" for an item in the
// root; none for the others.
std::optional<std::string> evidentPath(const platform::ItemProtocol& item);

// The path of the item named name in the folder at folderPath.
std::string childPath(const std::string& folderPath, const std::string& name);

// The names of the capability bits set, lowest bit first; bits without a name are left out.
std::vector<std::string> capabilityNames(platform::ItemCapabilities capabilities);

// {"error":{"domain":D,"code":N,"message":M}}
nlohmann::ordered_json errorJson(const platform::Error& error);

// A date in RFC 3339, UTC, whole seconds: "2024-05-01T12:03:04Z".
std::string rfc3339(platform::Date date);

// The object on one line, with a line break. Bytes that are not UTF-8 (a server's odd name) are replaced
// rather than failing the output.
std::string jsonLine(const nlohmann::ordered_json& value);

}  // namespace davfp::cli
