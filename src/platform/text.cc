#include "platform/text.h"

#include <utf8proc.h>

#include <cstdlib>
#include <functional>
#include <memory>

namespace davfp::platform {

bool isAscii(std::string_view s) {
  for (unsigned char c : s) {
    if (c >= 0x80) return false;
  }
  return true;
}

std::string nfc(std::string_view s) {
  if (isAscii(s)) return std::string(s);
  utf8proc_uint8_t* out = nullptr;
  utf8proc_ssize_t n = utf8proc_map(reinterpret_cast<const utf8proc_uint8_t*>(s.data()),
                                    static_cast<utf8proc_ssize_t>(s.size()), &out,
                                    static_cast<utf8proc_option_t>(UTF8PROC_STABLE | UTF8PROC_COMPOSE));
  if (n < 0) return std::string(s);
  std::unique_ptr<utf8proc_uint8_t, decltype(&std::free)> owned(out, &std::free);
  return std::string(reinterpret_cast<const char*>(out), static_cast<size_t>(n));
}

bool canonicalEqual(std::string_view a, std::string_view b) {
  if (a == b) return true;
  if (isAscii(a) && isAscii(b)) return false;
  return nfc(a) == nfc(b);
}

size_t CanonicalHash::operator()(std::string_view s) const {
  if (isAscii(s)) return std::hash<std::string_view>{}(s);
  return std::hash<std::string>{}(nfc(s));
}

bool isValidUtf8(std::string_view s) {
  auto p = reinterpret_cast<const utf8proc_uint8_t*>(s.data());
  auto left = static_cast<utf8proc_ssize_t>(s.size());
  while (left > 0) {
    if (*p < 0x80) {
      ++p;
      --left;
      continue;
    }
    utf8proc_int32_t cp;
    utf8proc_ssize_t n = utf8proc_iterate(p, left, &cp);
    if (n <= 0) return false;
    p += n;
    left -= n;
  }
  return true;
}

namespace {

bool isWhitespaceOrNewline(utf8proc_int32_t cp) {
  if (cp == ' ' || (cp >= 0x09 && cp <= 0x0D) || cp == 0x85) return true;
  if (cp < 0x80) return false;
  auto category = utf8proc_category(cp);
  return category == UTF8PROC_CATEGORY_ZS || category == UTF8PROC_CATEGORY_ZL ||
         category == UTF8PROC_CATEGORY_ZP;
}

// Decodes the code point starting at s[i]; returns its length, or 0 when the bytes there are not UTF-8.
size_t decodeAt(std::string_view s, size_t i, utf8proc_int32_t& cp) {
  auto n = utf8proc_iterate(reinterpret_cast<const utf8proc_uint8_t*>(s.data() + i),
                            static_cast<utf8proc_ssize_t>(s.size() - i), &cp);
  return n > 0 ? static_cast<size_t>(n) : 0;
}

}  // namespace

std::string_view trimWhitespace(std::string_view s) {
  // Most values begin and end with a visible ASCII character: nothing to trim.
  auto visibleAscii = [](char c) { return c > ' ' && static_cast<unsigned char>(c) < 0x80; };
  if (s.empty() || (visibleAscii(s.front()) && visibleAscii(s.back()))) return s;
  size_t begin = 0;
  while (begin < s.size()) {
    utf8proc_int32_t cp;
    size_t n = decodeAt(s, begin, cp);
    if (n == 0 || !isWhitespaceOrNewline(cp)) break;
    begin += n;
  }
  size_t end = s.size();
  while (end > begin) {
    size_t start = end - 1;
    while (start > begin && (static_cast<unsigned char>(s[start]) & 0xC0) == 0x80) --start;
    utf8proc_int32_t cp;
    size_t n = decodeAt(s, start, cp);
    if (n != end - start || !isWhitespaceOrNewline(cp)) break;
    end = start;
  }
  return s.substr(begin, end - begin);
}

}  // namespace davfp::platform
