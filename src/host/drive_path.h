// DrivePath: a path on the drive as a person writes it ("docs/report.pdf", "/docs/"): names separated by "/",
// from the drive's root, with or without a leading or trailing "/". Repeated slashes count as one. "." and
// ".." are refused: the program finds items by browsing folders, not by rewriting text. A value type.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace davfp::cli {

class DrivePath {
 public:
  // The root.
  DrivePath() = default;
  // Throws UsageError for "." or ".." components or a NUL byte.
  static DrivePath parse(std::string_view text);

  bool isRoot() const { return names_.empty(); }
  const std::vector<std::string>& names() const { return names_; }
  // The last name; empty for the root.
  std::string name() const;
  // The folder the path lies in; the root for the root.
  DrivePath parent() const;
  DrivePath child(std::string name) const;
  // "/" and the names joined by "/".
  std::string text() const;

 private:
  std::vector<std::string> names_;
};

// Checks a name for a new or renamed item: not empty, not "." or "..", no "/" and no NUL byte. Throws
// UsageError naming what is wrong.
void checkName(std::string_view name);

}  // namespace davfp::cli
