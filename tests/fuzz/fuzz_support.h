// Helpers shared by the fuzz targets. A broken invariant aborts with a message, which libFuzzer reports as a
// crash and saves the input for. Choices that a target makes about an input (chunk sizes, flags) come from a
// generator seeded by the input itself, so they are repeatable and consume none of its bytes: a seed file is
// a plain document (a PROPFIND body, a state file) that reads as it would from a server or
// disk.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <utility>

namespace davfp::fuzz {

[[noreturn]] inline void fail(const char* invariant, std::string_view detail) {
  std::fprintf(stderr, "\ninvariant broken: %s\n%.*s\n", invariant, static_cast<int>(detail.size()),
               detail.data());
  std::abort();
}

// Aborts when cond is false; detail (a string) says what was seen.
#define FUZZ_CHECK(cond, detail)                       \
  do {                                                 \
    if (!(cond)) ::davfp::fuzz::fail(#cond, (detail)); \
  } while (false)

// A repeatable pseudo-random sequence per input: splitmix64 seeded with the input's FNV-1a hash.
class InputRandom {
 public:
  explicit InputRandom(std::string_view data) {
    for (unsigned char c : data) {
      state_ ^= c;
      state_ *= 0x100000001b3u;
    }
  }

  uint64_t next() {
    uint64_t z = (state_ += 0x9e3779b97f4a7c15u);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9u;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebu;
    return z ^ (z >> 31);
  }
  // A value in [0, n); 0 when n is 0.
  size_t below(size_t n) { return n == 0 ? 0 : static_cast<size_t>(next() % n); }
  bool flip() { return (next() & 1) != 0; }

 private:
  uint64_t state_ = 0xcbf29ce484222325u;
};

// Splits "head\nrest" when the input begins with `marker` and has a line break within maxHead bytes;
// otherwise the head is empty and the rest is the whole input.
inline std::pair<std::string_view, std::string_view> splitHead(std::string_view data, std::string_view marker,
                                                               size_t maxHead) {
  if (!data.starts_with(marker)) return {{}, data};
  size_t eol = data.substr(0, maxHead + 1).find('\n');
  if (eol == std::string_view::npos) return {{}, data};
  return {data.substr(0, eol), data.substr(eol + 1)};
}

// Bytes shown in a failure message: printable ASCII as is, everything else as \xHH.
inline std::string printable(std::string_view s) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : s) {
    if (c >= 0x20 && c < 0x7f && c != '\\') {
      out += static_cast<char>(c);
    } else {
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 0x0f];
    }
  }
  return out;
}

}  // namespace davfp::fuzz
