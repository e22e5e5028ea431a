#include "platform/http_head.h"

namespace davfp::platform {

namespace {

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string_view trimmed(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// The status code of "HTTP/1.1 200 OK" (also "HTTP/2 200"); 0 when there is none.
long statusOf(std::string_view line) {
  auto space = line.find(' ');
  if (space == std::string_view::npos) return 0;
  std::string_view rest = line.substr(space + 1);
  if (rest.size() < 3) return 0;
  long status = 0;
  for (int i = 0; i < 3; ++i) {
    if (rest[i] < '0' || rest[i] > '9') return 0;
    status = status * 10 + (rest[i] - '0');
  }
  return status;
}

}  // namespace

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

std::optional<std::string> findHeader(const HeaderList& headers, std::string_view name) {
  for (const auto& [key, value] : headers) {
    if (equalsIgnoringCase(key, name)) return value;
  }
  return std::nullopt;
}

std::optional<std::string> HttpResponse::header(std::string_view name) const {
  return findHeader(headers, name);
}

void ResponseHead::addLine(std::string_view line) {
  if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);

  if (line.substr(0, 5) == "HTTP/") {
    status_ = statusOf(line);
    headers_.clear();
    complete_ = false;
    return;
  }
  if (complete_ || status_ == 0) return;  // trailers, or lines before any status line
  if (line.empty()) {
    complete_ = true;
    return;
  }
  if (line.front() == ' ' || line.front() == '\t') {
    // An obsolete folded continuation of the previous field's value.
    if (!headers_.empty()) {
      std::string_view more = trimmed(line);
      if (!more.empty()) {
        std::string& value = headers_.back().second;
        if (!value.empty()) value += ' ';
        value += more;
      }
    }
    return;
  }
  auto colon = line.find(':');
  if (colon == std::string_view::npos || colon == 0) return;  // not a header field; nothing to keep
  headers_.emplace_back(std::string(line.substr(0, colon)), std::string(trimmed(line.substr(colon + 1))));
}

}  // namespace davfp::platform
