// Fuzzes the state file: the input is the file's bytes. Checks that
//   - a decoded state encodes to a file that decodes to the same state, spelling for spelling, and encodes
//     again to as many bytes (the same members; their order is the maps' and may differ);
//   - the one-pass reader agrees with a reading of the whole document as a tree (where no object repeats a
//     member name);
//   - the input taken as two domain identifiers gives file names that are single, short file names, and
//     distinct unless the identifiers are canonically equal.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

#include "json_reference.h"
#include "state/state_file.h"

namespace davfp::fuzz {
namespace {

// The state with exact spellings, in one order, as text for comparison and messages.
std::string describe(const StateDisk& d) {
  nlohmann::json out = {{"anchor", d.anchor}, {"ids", nlohmann::json::object()}};
  for (const auto& [id, path] : d.ids) out["ids"][printable(id)] = printable(path);
  for (const auto& [folder, snapshot] : d.listed) {
    auto& children = out["listed"][printable(folder)] = nlohmann::json::object();
    for (const auto& [child, version] : snapshot) children[printable(child)] = printable(version);
  }
  return out.dump(1) + "\n";
}

bool isStrings(const Tree& t) {
  if (!t.is_object()) return false;
  return std::all_of(t.begin(), t.end(), [](const Tree& v) { return v.is_string(); });
}

// What the state file means, read from the tree; none when it is not a state file.
std::optional<StateDisk> referenceState(const Tree& t) {
  if (!t.is_object()) return std::nullopt;
  auto ids = t.find("ids"), listed = t.find("listed"), anchor = t.find("anchor");
  if (ids == t.end() || listed == t.end() || anchor == t.end()) return std::nullopt;
  if (!isStrings(*ids) || !listed->is_object()) return std::nullopt;
  StateDisk disk;
  if (anchor->is_number_unsigned()) {
    auto value = anchor->get<uint64_t>();
    if (value > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) return std::nullopt;
    disk.anchor = static_cast<int64_t>(value);
  } else if (anchor->is_number_integer()) {
    disk.anchor = anchor->get<int64_t>();
  } else {
    return std::nullopt;
  }
  for (const auto& [id, path] : ids->items()) disk.ids.insert_or_assign(id, path.get<std::string>());
  for (const auto& [folder, children] : listed->items()) {
    if (!isStrings(children)) return std::nullopt;
    auto& snapshot = disk.listed[folder];
    snapshot.clear();
    for (const auto& [child, version] : children.items()) {
      snapshot.insert_or_assign(child, version.get<std::string>());
    }
  }
  return disk;
}

void checkFileNames(std::string_view data, InputRandom& random) {
  size_t cut = random.below(data.size() + 1);
  std::string_view a = data.substr(0, cut), b = data.substr(cut);
  std::string nameA = stateFileName(a), nameB = stateFileName(b);
  for (const std::string& name : {nameA, nameB}) {
    FUZZ_CHECK(name.size() <= 255, printable(name));
    FUZZ_CHECK(name.starts_with("state-") && name.ends_with(".json"), printable(name));
    FUZZ_CHECK(name.find('/') == std::string::npos && name.find('\0') == std::string::npos, printable(name));
  }
  FUZZ_CHECK((nameA == nameB) == platform::canonicalEqual(a, b),
             printable(a) + " -> " + printable(nameA) + "\n" + printable(b) + " -> " + printable(nameB));
  FUZZ_CHECK(stateFileName(platform::nfc(a)) == nameA, printable(a));
}

}  // namespace
}  // namespace davfp::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace davfp;
  using namespace davfp::fuzz;
  std::string_view input(reinterpret_cast<const char*>(data), size);
  InputRandom random(input);
  checkFileNames(input, random);

  std::optional<StateDisk> decoded = decodeState(input);
  if (decoded) {
    auto encode = [](const StateDisk& d) { return encodeState(d.ids, d.listed, d.anchor); };
    std::string file = checkRewrite(*decoded, decodeState, encode, describe);
    std::string second = encode(*decodeState(file));
    FUZZ_CHECK(second.size() == file.size(), printable(file) + "\nencoded again:\n" + printable(second));
  }
  checkAgainstTree(input, decoded, referenceState, describe);
  return 0;
}
