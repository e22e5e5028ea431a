// Fuzzes the state file: the input is the file's bytes. Checks that
//   - a decoded state encodes to a file that decodes to the same state, spelling for spelling;
//   - the one-pass reader agrees with a reading of the whole document as a tree by nlohmann/json (where no
//     object repeats a member name: a tree keeps one of two equal names, a one-pass reader may keep the other),
//     and decodes nothing that is not JSON;
//   - the input taken as two domain identifiers gives file names that are single, short file names, and
//     distinct unless the identifiers are canonically equal.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "state/state_file.h"

namespace davfp::fuzz {
namespace {

using Tree = nlohmann::ordered_json;

// The state with exact spellings, in one order, as text for comparison and messages; "nothing" for none.
std::string describe(const std::optional<StateDisk>& d) {
  if (!d) return "nothing\n";
  nlohmann::json out = {{"anchor", d->anchor}, {"ids", nlohmann::json::object()}};
  for (const auto& [id, path] : d->ids) out["ids"][printable(id)] = printable(path);
  for (const auto& [folder, snapshot] : d->listed) {
    auto& children = out["listed"][printable(folder)] = nlohmann::json::object();
    for (const auto& [child, version] : snapshot) children[printable(child)] = printable(version);
  }
  return out.dump(1) + "\n";
}

bool isStrings(const Tree& t) {
  return t.is_object() && std::all_of(t.begin(), t.end(), [](const Tree& v) { return v.is_string(); });
}

// What the state file means, read from the tree; none when it is not a state file.
std::optional<StateDisk> referenceState(const Tree& t) {
  if (!t.is_object()) return std::nullopt;
  auto ids = t.find("ids"), listed = t.find("listed"), anchor = t.find("anchor");
  if (ids == t.end() || listed == t.end() || anchor == t.end()) return std::nullopt;
  if (!isStrings(*ids) || !listed->is_object() || !anchor->is_number_integer()) return std::nullopt;
  StateDisk disk;
  if (anchor->is_number_unsigned()) {
    if (anchor->get<uint64_t>() > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) return {};
  }
  disk.anchor = anchor->get<int64_t>();
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

// The reader agrees with the tree where the tree can tell.
void checkAgainstTree(std::string_view input, const std::optional<StateDisk>& decoded) {
  size_t keys = 0;
  auto countKeys = [&keys](int, Tree::parse_event_t event, Tree&) {
    keys += event == Tree::parse_event_t::key;
    return true;
  };
  Tree tree = Tree::parse(input.begin(), input.end(), countKeys, /*allow_exceptions=*/false);
  if (tree.is_discarded()) {
    FUZZ_CHECK(!decoded, "decoded what is not JSON");
    return;
  }
  // Members in the tree, counted without recursion: documents may nest thousands deep.
  size_t members = 0;
  for (std::vector<const Tree*> pending{&tree}; !pending.empty();) {
    const Tree* t = pending.back();
    pending.pop_back();
    if (t->is_object()) members += t->size();
    if (t->is_structured()) {
      for (const auto& child : *t) pending.push_back(&child);
    }
  }
  if (members != keys) return;  // a repeated member name
  std::string expected = describe(referenceState(tree));
  FUZZ_CHECK(expected == describe(decoded), "expected:\n" + expected + "decoded:\n" + describe(decoded));
}

void checkFileNames(std::string_view data, InputRandom& random) {
  size_t cut = random.below(data.size() + 1);
  std::string_view a = data.substr(0, cut), b = data.substr(cut);
  std::string nameA = stateFileName(a), nameB = stateFileName(b);
  for (const std::string& name : {nameA, nameB}) {
    FUZZ_CHECK(name.size() <= 255 && name.starts_with("state-") && name.ends_with(".json") &&
                   name.find('/') == std::string::npos && name.find('\0') == std::string::npos,
               printable(name));
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
    std::string file = encodeState(decoded->ids, decoded->listed, decoded->anchor);
    FUZZ_CHECK(describe(decodeState(file)) == describe(decoded),
               "decoded:\n" + describe(decoded) + "written:\n" + printable(file));
  }
  checkAgainstTree(input, decoded);
  return 0;
}
