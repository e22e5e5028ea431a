// A second opinion on JSON documents for the fuzz targets of the state layer's one-pass readers: the whole
// document parsed into a tree by nlohmann/json, members in document order.
#pragma once

#include <cstddef>
#include <nlohmann/json.hpp>
#include <optional>
#include <string_view>
#include <vector>

namespace davfp::fuzz {

using Tree = nlohmann::ordered_json;

// The document as a tree, or none when it is not JSON (the same strict rules as the readers: no comments,
// nothing after the value).
inline std::optional<Tree> parseTree(std::string_view bytes) {
  Tree tree = Tree::parse(bytes.begin(), bytes.end(), nullptr, /*allow_exceptions=*/false);
  if (tree.is_discarded()) return std::nullopt;
  return tree;
}

// True when no object of the document names a member twice. A tree keeps one of two equal member names, so
// where the document repeats one, the tree and a one-pass reader may legitimately disagree about which wins.
inline bool hasUniqueMembers(std::string_view bytes, const Tree& tree) {
  struct CountKeys : nlohmann::json_sax<Tree> {
    size_t keys = 0;
    bool null() override { return true; }
    bool boolean(bool) override { return true; }
    bool number_integer(number_integer_t) override { return true; }
    bool number_unsigned(number_unsigned_t) override { return true; }
    bool number_float(number_float_t, const string_t&) override { return true; }
    bool string(string_t&) override { return true; }
    bool binary(binary_t&) override { return true; }
    bool start_object(size_t) override { return true; }
    bool key(string_t&) override { return ++keys, true; }
    bool end_object() override { return true; }
    bool start_array(size_t) override { return true; }
    bool end_array() override { return true; }
    bool parse_error(size_t, const std::string&, const nlohmann::detail::exception&) override {
      return false;
    }
  } counter;
  if (!Tree::sax_parse(bytes.begin(), bytes.end(), &counter)) return false;

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
  return members == counter.keys;
}

}  // namespace davfp::fuzz
