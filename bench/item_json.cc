#include "item_json.h"

#include <ctime>

namespace davfp::bench {

namespace {

// Text as a JSON string; the engine's text is UTF-8, so only quotation marks, backslashes and control
// characters need escaping.
void appendString(std::string& out, const std::string& text) {
  static constexpr char kHex[] = "0123456789abcdef";
  out += '"';
  for (char ch : text) {
    auto c = static_cast<unsigned char>(ch);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += ch;
    } else if (c < 0x20) {
      out += "\\u00";
      out += kHex[c >> 4];
      out += kHex[c & 0x0F];
    } else {
      out += ch;
    }
  }
  out += '"';
}

void appendDate(std::string& out, platform::Date date) {
  std::time_t t = std::chrono::system_clock::to_time_t(date);
  std::tm tm{};
  gmtime_r(&t, &tm);
  char buffer[32];
  size_t n = std::strftime(buffer, sizeof buffer, "\"%Y-%m-%dT%H:%M:%SZ\"", &tm);
  out.append(buffer, n);
}

}  // namespace

void appendItemLine(std::string& out, const platform::ItemProtocol& item) {
  platform::ItemVersion version = item.itemVersion();
  out += "{\"id\":";
  appendString(out, item.itemIdentifier());
  out += ",\"parent\":";
  appendString(out, item.parentItemIdentifier());
  out += ",\"name\":";
  appendString(out, item.filename());
  out += ",\"type\":";
  appendString(out, item.contentType().value_or(""));
  out += ",\"size\":";
  if (auto size = item.documentSize()) {
    out += std::to_string(*size);
  } else {
    out += "null";
  }
  out += ",\"modified\":";
  if (auto modified = item.contentModificationDate()) {
    appendDate(out, *modified);
  } else {
    out += "null";
  }
  out += ",\"contentVersion\":";
  appendString(out, version.contentVersion);
  out += ",\"metadataVersion\":";
  appendString(out, version.metadataVersion);
  out += ",\"capabilities\":";
  out += std::to_string(item.capabilities());
  out += "}\n";
}

}  // namespace davfp::bench
