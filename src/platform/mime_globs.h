// The simple "*.ext" globs of shared-mime-info's globs2 files, as a table from filename extension to MIME
// type name. Built once, then only read: a const MimeGlobs is safe to share across threads.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace davfp::platform {

class MimeGlobs {
 public:
  // Reads globs2 files in order of importance (the user's data directory first). Missing or unreadable
  // files are skipped.
  static MimeGlobs load(const std::vector<std::string>& files);

  // Adds the lines "weight:type:glob[:flags]" of one globs2 file, less important than those added before.
  // Only globs "*.ext" with no other wildcard are kept; comments and malformed lines are skipped. A type
  // listed with the glob "__NOGLOBS__" takes no globs from files added after this one.
  void add(std::string_view fileText);

  // The type for a filename extension (without the dot), or none. The highest weight wins; at equal
  // weights a case-sensitive glob (flag "cs") beats a case-insensitive one, and then the first one added.
  // Globs without "cs" match regardless of ASCII case.
  std::optional<std::string> typeFor(std::string_view extension) const;

 private:
  struct Glob {
    int weight;
    std::string type;
  };

  // Keeps the existing glob unless the new one weighs more.
  static void insert(std::unordered_map<std::string, Glob>& table, std::string key, Glob glob);

  std::unordered_map<std::string, Glob> caseSensitive_;
  std::unordered_map<std::string, Glob> caseInsensitive_;  // keyed by the ASCII lower-case extension
  std::unordered_set<std::string> closedTypes_;            // types that an earlier file marked __NOGLOBS__
};

// The globs2 files of the installed database: mime/globs2 under each XDG data directory, most important
// first. Reads the environment.
std::vector<std::string> installedGlobs2Files();

}  // namespace davfp::platform
