#include "host/json_output.h"

#include <chrono>
#include <cstdio>

#include "platform/json_text.h"

namespace davfp::cli {

std::string rfc3339(platform::Date date) {
  auto seconds = std::chrono::floor<std::chrono::seconds>(date);
  auto days = std::chrono::floor<std::chrono::days>(seconds);
  std::chrono::year_month_day ymd{days};
  std::chrono::hh_mm_ss hms{seconds - days};
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02ld:%02ld:%02ldZ", static_cast<int>(ymd.year()),
                static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()),
                static_cast<long>(hms.hours().count()), static_cast<long>(hms.minutes().count()),
                static_cast<long>(hms.seconds().count()));
  return text;
}

namespace {

struct NamedCapability {
  platform::ItemCapabilities bit;
  const char* name;
};

constexpr NamedCapability kCapabilityNames[] = {
    {platform::capability::kReading, "reading"},         {platform::capability::kWriting, "writing"},
    {platform::capability::kReparenting, "reparenting"}, {platform::capability::kRenaming, "renaming"},
    {platform::capability::kTrashing, "trashing"},       {platform::capability::kDeleting, "deleting"},
};

}  // namespace

std::vector<std::string> capabilityNames(platform::ItemCapabilities capabilities) {
  std::vector<std::string> names;
  for (const auto& named : kCapabilityNames) {
    if (capabilities & named.bit) names.emplace_back(named.name);
  }
  return names;
}

std::optional<std::string> evidentPath(const platform::ItemProtocol& item) {
  if (item.itemIdentifier() == platform::kRootContainerItemIdentifier) return "/";
  if (item.parentItemIdentifier() == platform::kRootContainerItemIdentifier) return "/" + item.filename();
  return std::nullopt;
}

std::string childPath(const std::string& folderPath, const std::string& name) {
  return folderPath.ends_with('/') ? folderPath + name : folderPath + "/" + name;
}

nlohmann::ordered_json itemJson(const platform::ItemProtocol& item) {
  return itemJson(item, evidentPath(item));
}

nlohmann::ordered_json itemJson(const platform::ItemProtocol& item, const std::optional<std::string>& path) {
  nlohmann::ordered_json out = nlohmann::ordered_json::object();
  out["id"] = item.itemIdentifier();
  out["parent"] = item.parentItemIdentifier();
  out["name"] = item.filename();
  auto type = item.contentType();
  out["type"] = type ? nlohmann::ordered_json(*type) : nlohmann::ordered_json(nullptr);
  auto size = item.documentSize();
  out["size"] = size ? nlohmann::ordered_json(*size) : nlohmann::ordered_json(nullptr);
  auto modified = item.contentModificationDate();
  out["modified"] = modified ? nlohmann::ordered_json(rfc3339(*modified)) : nlohmann::ordered_json(nullptr);
  auto version = item.itemVersion();
  out["contentVersion"] = version.contentVersion;
  out["metadataVersion"] = version.metadataVersion;
  out["capabilities"] = item.capabilities();
  out["capabilityNames"] = capabilityNames(item.capabilities());
  out["path"] = path ? nlohmann::ordered_json(*path) : nlohmann::ordered_json(nullptr);
  return out;
}

namespace {

// Text as a JSON string, escaped as the JSON library escapes it.
void appendString(std::string& out, std::string_view text) {
  platform::appendJsonString(out, text, platform::HexCase::lower);
}

}  // namespace

void appendItemLine(std::string& out, const platform::ItemProtocol& item) {
  appendItemLine(out, item, evidentPath(item));
}

void appendItemLine(std::string& out, const platform::ItemProtocol& item,
                    const std::optional<std::string>& path) {
  out += "{\"id\":";
  appendString(out, item.itemIdentifier());
  out += ",\"parent\":";
  appendString(out, item.parentItemIdentifier());
  out += ",\"name\":";
  appendString(out, item.filename());
  out += ",\"type\":";
  if (auto type = item.contentType()) {
    appendString(out, *type);
  } else {
    out += "null";
  }
  out += ",\"size\":";
  if (auto size = item.documentSize()) {
    out += std::to_string(*size);
  } else {
    out += "null";
  }
  out += ",\"modified\":";
  if (auto modified = item.contentModificationDate()) {
    out += '"';
    out += rfc3339(*modified);
    out += '"';
  } else {
    out += "null";
  }
  platform::ItemVersion version = item.itemVersion();
  out += ",\"contentVersion\":";
  appendString(out, version.contentVersion);
  out += ",\"metadataVersion\":";
  appendString(out, version.metadataVersion);
  out += ",\"capabilities\":";
  out += std::to_string(item.capabilities());
  out += ",\"capabilityNames\":[";
  // Straight from the table: a listing of many items makes no list of names per item.
  bool first = true;
  for (const auto& named : kCapabilityNames) {
    if (!(item.capabilities() & named.bit)) continue;
    if (!first) out += ',';
    first = false;
    out += '"';
    out += named.name;
    out += '"';
  }
  out += "],\"path\":";
  if (path) {
    appendString(out, *path);
  } else {
    out += "null";
  }
  out += "}\n";
}

nlohmann::ordered_json errorJson(const platform::Error& error) {
  return {{"error", {{"domain", error.domain()}, {"code", error.code()}, {"message", describe(error)}}}};
}

std::string jsonLine(const nlohmann::ordered_json& value) {
  return value.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

}  // namespace davfp::cli
