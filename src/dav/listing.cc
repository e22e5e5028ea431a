#include "dav/listing.h"

#include <algorithm>
#include <cstdint>
#include <utility>

#include "dav/dav_error.h"
#include "dav/propfind_parser.h"
#include "platform/server_path.h"
#include "platform/text.h"

namespace davfp {

namespace {

// Marks every entry whose path equals an earlier entry's under canonical comparison. Entries are grouped by
// their paths' canonical hashes (a sort of small pairs, not a set of the paths: a listing may hold a hundred
// thousand entries, and this runs beside them).
std::vector<bool> repeats(const std::vector<DavEntry>& entries) {
  std::vector<std::pair<size_t, uint32_t>> keyed;  // hash, position
  keyed.reserve(entries.size());
  platform::CanonicalHash hash;
  for (size_t i = 0; i < entries.size(); ++i) {
    keyed.emplace_back(hash(entries[i].path), static_cast<uint32_t>(i));
  }
  std::sort(keyed.begin(), keyed.end());
  std::vector<bool> repeated(entries.size());
  for (size_t start = 0; start < keyed.size();) {
    size_t end = start + 1;
    while (end < keyed.size() && keyed[end].first == keyed[start].first) ++end;
    // Within a group, positions ascend: each is compared with the earlier ones not already found repeated.
    for (size_t j = start + 1; j < end; ++j) {
      for (size_t i = start; i < j; ++i) {
        if (repeated[keyed[i].second]) continue;
        if (platform::canonicalEqual(entries[keyed[i].second].path, entries[keyed[j].second].path)) {
          repeated[keyed[j].second] = true;
          break;
        }
      }
    }
    start = end;
  }
  return repeated;
}

}  // namespace

std::vector<DavEntry> Listing::entries() && {
  if (parsed_) {
    checkWhole(complete_, entries_);
    return std::move(entries_);
  }
  PropfindParser parser(basePath_);
  parser.feed(body_);
  std::string().swap(body_);
  auto entries = parser.finish();
  checkWhole(parser.complete(), entries);
  return entries;
}

void Listing::checkWhole(bool complete, const std::vector<DavEntry>& entries) const {
  bool described =
      depth_ == 0 ? !entries.empty() : std::any_of(entries.begin(), entries.end(), [&](const DavEntry& e) {
        return platform::canonicalEqual(e.path, path_);
      });
  if (!complete || !described) throw DavError::status(kBrokenListingStatus);
}

std::vector<DavEntry> childrenOf(std::string_view folder, std::vector<DavEntry> listing) {
  const std::vector<bool> repeated = repeats(listing);
  // Filtered in place: a second vector would hold a large listing twice. The predicate sees each entry where
  // it stood (removal only moves entries to places already judged), so its position names its mark.
  const DavEntry* first = listing.data();
  std::erase_if(listing, [&](const DavEntry& e) {
    if (repeated[static_cast<size_t>(&e - first)]) return true;
    if (platform::canonicalEqual(e.path, folder) ||
        !platform::canonicalEqual(platform::parentPath(e.path), folder)) {
      return true;
    }
    // "." and ".." name no child: requests could never address them as one.
    std::string_view name = std::string_view(e.path).substr(e.path.rfind('/') + 1);
    return name == "." || name == "..";
  });
  return listing;
}

}  // namespace davfp
