#include "dav/entry.h"

#include "platform/text.h"

namespace davfp {

std::string DavEntry::name() const {
  size_t end = path.size();
  while (end > 0 && path[end - 1] == '/') --end;
  size_t start = path.rfind('/', end == 0 ? 0 : end - 1);
  start = (start == std::string::npos) ? 0 : start + 1;
  if (end <= start) return {};
  return path.substr(start, end - start);
}

std::string DavEntry::version() const {
  if (etag) return *etag;
  long long seconds = 0;
  if (modified) {
    // duration_cast truncates toward zero, so half a second before 1970 counts as 0, not -1.
    seconds = std::chrono::duration_cast<std::chrono::seconds>(modified->time_since_epoch()).count();
  }
  return std::to_string(size.value_or(0)) + "-" + std::to_string(seconds);
}

bool sameVersion(std::string_view a, std::string_view b) {
  if (a.starts_with("W/")) a.remove_prefix(2);
  if (b.starts_with("W/")) b.remove_prefix(2);
  return platform::canonicalEqual(a, b);
}

}  // namespace davfp
