// Text comparison as the platform does it: case-sensitive, with canonically equivalent Unicode text (composed
// or decomposed) equal. Strings are kept and sent in their original spelling; only comparison and hashing use
// the NFC form. ASCII text, the common case, takes a fast path without normalisation. Pure functions.
#pragma once

#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

namespace davfp::platform {

bool isAscii(std::string_view s);

// The NFC form of s; s unchanged when it is not valid UTF-8.
std::string nfc(std::string_view s);

bool canonicalEqual(std::string_view a, std::string_view b);

struct CanonicalHash {
  using is_transparent = void;
  size_t operator()(std::string_view s) const;
};

struct CanonicalEqual {
  using is_transparent = void;
  bool operator()(std::string_view a, std::string_view b) const { return canonicalEqual(a, b); }
};

template <class V>
using CanonicalMap = std::unordered_map<std::string, V, CanonicalHash, CanonicalEqual>;
using CanonicalSet = std::unordered_set<std::string, CanonicalHash, CanonicalEqual>;

// True when s is well-formed UTF-8.
bool isValidUtf8(std::string_view s);

// Trims Unicode white space and line breaks from both ends (Swift's whitespacesAndNewlines).
std::string_view trimWhitespace(std::string_view s);

}  // namespace davfp::platform
