// Helpers shared by the URL session tests.
#pragma once

#include <optional>
#include <string>
#include <utility>

#include "platform/error.h"
#include "platform/url_session.h"

namespace davfp::platform::test {

// Binary bytes, zeros included, that differ from piece to piece.
inline std::string pattern(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 31 + i / 251) % 256);
  return s;
}

template <class F>
std::optional<Error> errorFrom(F&& f) {
  try {
    f();
  } catch (const Error& e) {
    return e;
  }
  return std::nullopt;
}

inline HttpRequest request(std::string method, std::string url,
                           std::optional<std::string> body = std::nullopt) {
  return HttpRequest{.method = std::move(method), .url = std::move(url), .body = std::move(body)};
}

}  // namespace davfp::platform::test
