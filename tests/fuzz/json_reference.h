// A second opinion on JSON documents for the fuzz targets of the one-pass JSON readers: the whole document
// parsed into a tree by nlohmann/json, members in document order, and the checks that compare a reader with
// it.
#pragma once

#include <cstddef>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.h"

namespace davfp::fuzz {

using Tree = nlohmann::ordered_json;

// The document as a tree (none when it is not JSON under the readers' strict rules: no comments, nothing
// after the value), and whether no object in it names a member twice. A tree keeps one of two equal member
// names, so where the document repeats one, the tree and a one-pass reader may legitimately disagree.
struct Reference {
  std::optional<Tree> tree;
  bool uniqueMembers = false;
};

inline Reference parseTree(std::string_view bytes) {
  size_t keys = 0;
  auto countKeys = [&keys](int, Tree::parse_event_t event, Tree&) {
    keys += event == Tree::parse_event_t::key;
    return true;
  };
  Tree tree = Tree::parse(bytes.begin(), bytes.end(), countKeys, /*allow_exceptions=*/false);
  if (tree.is_discarded()) return {};
  // Members in the tree, counted without recursion: documents may nest thousands deep.
  size_t members = 0;
  std::vector<const Tree*> pending{&tree};
  while (!pending.empty()) {
    const Tree* t = pending.back();
    pending.pop_back();
    if (t->is_object()) members += t->size();
    if (t->is_structured()) {
      for (const auto& child : *t) pending.push_back(&child);
    }
  }
  return {std::move(tree), members == keys};
}

// What a reader decoded agrees with what the reference makes of the tree (none: not such a document), and a
// reader decodes nothing that is not JSON. describe(value) shows a value with every spelling exact.
template <class T, class FromTree, class Describe>
void checkAgainstTree(std::string_view input, const std::optional<T>& decoded, FromTree fromTree,
                      Describe describe) {
  auto show = [&](const std::optional<T>& v) { return v ? describe(*v) : std::string("nothing\n"); };
  Reference reference = parseTree(input);
  if (reference.tree && reference.uniqueMembers) {
    std::optional<T> expected = fromTree(*reference.tree);
    FUZZ_CHECK(show(expected) == show(decoded),
               "expected:\n" + show(expected) + "decoded:\n" + show(decoded));
  } else {
    FUZZ_CHECK(!decoded || reference.tree, "decoded what is not JSON");
  }
}

// A decoded value written out again decodes to the same value; returns the text written.
template <class T, class Decode, class Encode, class Describe>
std::string checkRewrite(const T& decoded, Decode decode, Encode encode, Describe describe) {
  std::string file = encode(decoded);
  std::optional<T> again = decode(file);
  FUZZ_CHECK(again && describe(*again) == describe(decoded), "decoded:\n" + describe(decoded) + "written:\n" +
                                                                 printable(file) + "\nread back:\n" +
                                                                 (again ? describe(*again) : "nothing"));
  return file;
}

}  // namespace davfp::fuzz
