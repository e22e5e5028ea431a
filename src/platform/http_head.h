// ResponseHead: assembles the head of an HTTP response from the header lines libcurl hands over one at a
// time. libcurl passes the lines of every response of an exchange (100 Continue, authentication challenges,
// the final answer); each status line starts a new head, so the head kept is always that of the latest
// response. Lines after a complete head (trailers of a chunked body) are ignored. A value; not thread-safe.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/url_session.h"

namespace davfp::platform {

class ResponseHead {
 public:
  // Takes one line, with or without its line ending.
  void addLine(std::string_view line);

  // True once the blank line that ends the head has arrived.
  bool complete() const { return complete_; }
  // True for a complete head of a 1xx response, which another response follows.
  bool informational() const { return complete_ && status_ >= 100 && status_ < 200; }
  long status() const { return status_; }
  const HeaderList& headers() const { return headers_; }

 private:
  long status_ = 0;
  HeaderList headers_;
  bool complete_ = false;
};

// The value of the first header named name, compared without regard to ASCII case.
std::optional<std::string> findHeader(const HeaderList& headers, std::string_view name);

// ASCII case-insensitive equality, for header names.
bool equalsIgnoringCase(std::string_view a, std::string_view b);

}  // namespace davfp::platform
