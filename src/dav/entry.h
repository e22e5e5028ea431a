// DavEntry: one resource as a PROPFIND response reports it. An immutable value, safe to copy and share across
// threads.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace davfp {

struct DavEntry {
  std::string path;  // relative to the drive's base URL: begins with "/", percent-decoded, no trailing "/"
  bool isDir = false;
  // Content length in bytes; none when the server reports none, or a value that is no length (negative, not
  // a decimal integer, out of range).
  std::optional<int64_t> size;
  std::optional<std::chrono::system_clock::time_point> modified;
  std::optional<std::string> etag;  // as reported, trimmed, quotes and weak prefix kept

  // The last non-empty component of path; empty for the root.
  std::string name() const;
  // The change token: the entity tag, else size (0 when unknown) "-" whole seconds since 1970 (truncated
  // toward zero).
  std::string version() const;
};

// Versions compared weakly: a leading "W/" is ignored on both sides, then canonical text equality. A server
// may report the weak form of an entity tag for a moment after a write and the strong one afterwards.
bool sameVersion(std::string_view a, std::string_view b);

}  // namespace davfp
