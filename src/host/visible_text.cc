#include "host/visible_text.h"

namespace davfp::cli {

namespace {

// The length of the well-formed UTF-8 sequence at the start of s (shortest form, no surrogates, at most
// U+10FFFF), with its code point; 0 when s does not start with one.
size_t decode(std::string_view s, char32_t& cp) {
  auto byte = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
  unsigned char b = byte(0);
  size_t n = 0;
  unsigned char low = 0x80, high = 0xBF;  // the bounds of the second byte
  if (b >= 0xC2 && b <= 0xDF) {
    n = 2;
    cp = b & 0x1F;
  } else if (b >= 0xE0 && b <= 0xEF) {
    n = 3;
    cp = b & 0x0F;
    if (b == 0xE0) low = 0xA0;   // no overlong forms
    if (b == 0xED) high = 0x9F;  // no surrogates
  } else if (b >= 0xF0 && b <= 0xF4) {
    n = 4;
    cp = b & 0x07;
    if (b == 0xF0) low = 0x90;
    if (b == 0xF4) high = 0x8F;  // nothing above U+10FFFF
  } else {
    return 0;
  }
  if (s.size() < n) return 0;
  for (size_t i = 1; i < n; ++i) {
    unsigned char c = byte(i);
    if (c < (i == 1 ? low : 0x80) || c > (i == 1 ? high : 0xBF)) return 0;
    cp = (cp << 6) | (c & 0x3F);
  }
  return n;
}

// Characters that are no controls but change how a line reads: the direction marks, embeddings, overrides
// and isolates, and the line and paragraph separators.
bool isLayoutControl(char32_t cp) {
  return cp == 0x061C || cp == 0x200E || cp == 0x200F || (cp >= 0x202A && cp <= 0x202E) ||
         (cp >= 0x2066 && cp <= 0x2069) || cp == 0x2028 || cp == 0x2029;
}

void appendOctal(std::string& out, unsigned char b) {
  out += '\\';
  out += static_cast<char>('0' + (b >> 6));
  out += static_cast<char>('0' + ((b >> 3) & 7));
  out += static_cast<char>('0' + (b & 7));
}

}  // namespace

std::string visible(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    unsigned char b = static_cast<unsigned char>(text[i]);
    if (b >= 0x20 && b < 0x7F) {
      if (b == '\\') out += '\\';
      out += static_cast<char>(b);
      ++i;
      continue;
    }
    if (b < 0x80) {
      constexpr std::string_view kNamed = "\a\b\t\n\v\f\r";
      constexpr std::string_view kLetters = "abtnvfr";
      if (auto named = kNamed.find(static_cast<char>(b)); named != std::string_view::npos) {
        out += '\\';
        out += kLetters[named];
      } else {
        appendOctal(out, b);  // NUL, the other C0 controls, DEL
      }
      ++i;
      continue;
    }
    char32_t cp = 0;
    size_t n = decode(text.substr(i), cp);
    if (n == 0) {
      appendOctal(out, b);  // not UTF-8: this byte alone, and the next one starts afresh
      ++i;
      continue;
    }
    if (cp < 0xA0 || isLayoutControl(cp)) {
      for (size_t k = 0; k < n; ++k) appendOctal(out, static_cast<unsigned char>(text[i + k]));
    } else {
      out.append(text, i, n);
    }
    i += n;
  }
  return out;
}

}  // namespace davfp::cli
