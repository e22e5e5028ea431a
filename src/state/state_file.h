// The state file of a domain: its name, and the JSON form of the persisted state
//   {"ids": {identifier: path}, "listed": {folder: {child: version}}, "anchor": integer}
// Members may come in any order, "/" may be escaped, other members are ignored. Pure functions.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/text.h"
#include "state/text_map.h"

namespace davfp {

// The persisted part of a domain's state.
struct StateDisk {
  using Ids = platform::CanonicalMap<std::string>;       // item identifier -> path
  using Snapshot = platform::CanonicalMap<std::string>;  // child path -> version
  using Snapshots = platform::CanonicalMap<Snapshot>;    // folder path -> snapshot

  Ids ids;
  Snapshots listed;
  int64_t anchor = 1;
};

// The same content as State holds it: each map's text contiguous, the identifiers also indexed by path.
struct StateData {
  using Snapshots = platform::CanonicalMap<TextMap>;  // folder path -> (child path -> version)

  TextMap ids{TextMap::Values::indexed};  // item identifier -> path; a path finds the identifier met last
  Snapshots listed;
  int64_t anchor = 1;
};

// "state-" + the domain identifier + ".json". The identifier is taken in its composed (NFC) form, so that
// canonically equivalent identifiers share one file; ASCII letters, digits, ".", "-" and "_" are kept and
// every other byte becomes "%" and two upper-case hex digits. Distinct identifiers get distinct names, and
// no name contains "/" or is "." or "..". A name that would pass 255 bytes keeps a prefix of that form and
// ends in "~" and a 128-bit hash of the identifier instead.
std::string stateFileName(std::string_view domain);

// Compact JSON. A string that is not UTF-8 (a path that percent-decoded to arbitrary bytes) cannot be
// written as JSON: its bad bytes are written as U+FFFD, so that the rest of the state is still saved.
// sizeHint, the size of the previous encoding, saves growing the text step by step.
std::string encodeState(const TextMap& ids, const StateData::Snapshots& listed, int64_t anchor,
                        size_t sizeHint = 0);
std::string encodeState(const StateDisk::Ids& ids, const StateDisk::Snapshots& listed, int64_t anchor,
                        size_t sizeHint = 0);

// None when the bytes are not such an object: malformed or truncated JSON, a missing member, a value of the
// wrong type, or an anchor that is not an integer in the int64 range.
std::optional<StateDisk> decodeState(std::string_view bytes);
std::optional<StateData> decodeStateData(std::string_view bytes);

}  // namespace davfp
