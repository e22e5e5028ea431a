#include "host/json_output.h"

#include <chrono>
#include <cstdio>

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

nlohmann::ordered_json itemJson(const platform::ItemProtocol& item) {
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
  return out;
}

nlohmann::ordered_json errorJson(const platform::Error& error) {
  return {{"error", {{"domain", error.domain()}, {"code", error.code()}, {"message", describe(error)}}}};
}

std::string jsonLine(const nlohmann::ordered_json& value) {
  return value.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

}  // namespace davfp::cli
