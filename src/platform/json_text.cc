#include "platform/json_text.h"

#include <array>
#include <nlohmann/json.hpp>

#include "platform/text.h"

namespace davfp::platform {

namespace {

// Bytes that a JSON string cannot hold as they are (control characters, quotation mark, backslash), and the
// bytes of multibyte characters, which the UTF-8 check must see.
constexpr auto kNotPlain = [] {
  std::array<bool, 256> table{};
  for (int c = 0; c < 256; ++c) table[c] = c < 0x20 || c == '"' || c == '\\' || c >= 0x80;
  return table;
}();

}  // namespace

void appendJsonString(std::string& out, std::string_view text, HexCase hex) {
  const char* digits = hex == HexCase::upper ? "0123456789ABCDEF" : "0123456789abcdef";
  // Most paths, identifiers and versions are printable ASCII: copied whole.
  size_t plain = 0;
  while (plain < text.size() && !kNotPlain[static_cast<unsigned char>(text[plain])]) ++plain;
  if (plain == text.size()) {
    out += '"';
    out += text;
    out += '"';
    return;
  }
  const size_t mark = out.size();
  out += '"';
  size_t start = 0;
  bool checkedUtf8 = false;
  for (size_t i = plain; i < text.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c >= 0x80) {
      if (!checkedUtf8 && !isValidUtf8(text.substr(i))) {
        out.resize(mark);
        out +=
            nlohmann::json(std::string(text)).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
        return;
      }
      checkedUtf8 = true;
      continue;
    }
    if (c >= 0x20 && c != '"' && c != '\\') continue;
    out.append(text, start, i - start);
    start = i + 1;
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\f':
        out += "\\f";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        out += "\\u00";
        out += digits[c >> 4];
        out += digits[c & 0x0F];
    }
  }
  out.append(text, start, text.size() - start);
  out += '"';
}

}  // namespace davfp::platform
