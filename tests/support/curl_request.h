// One HTTP exchange through libcurl, for tests that talk to real servers without the engine's own session.
// Each call uses its own handle: safe from any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace davfp::testing {

struct HttpResponse {
  long status = 0;
  std::vector<std::pair<std::string, std::string>> headers;  // of the final response, in order
  std::string body;

  // The first header of that name (compared without regard to case), or none.
  std::optional<std::string> header(std::string_view name) const;
};

struct HttpRequest {
  std::string method = "GET";
  std::string url;
  std::vector<std::string> headers;  // "Name: value"
  std::optional<std::string> body;
  long timeoutMs = 10000;  // the whole exchange
};

// Sends the request straight to its host (never through a proxy) and returns the answer, whatever its
// status. Throws std::runtime_error when no answer arrives (connection refused, timeout).
HttpResponse curlRequest(const HttpRequest& request);

}  // namespace davfp::testing
