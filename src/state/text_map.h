// TextMap: a map from text to text, keys compared canonically, held contiguously: every key and its value
// lie back to back in one buffer, each pair is 16 bytes in one array, and the key index is a SlotIndex. So a
// map of n pairs is a handful of allocations, not 2n or 3n, and walking it reads memory in order.
// Optionally a second index finds pairs by value (the value met last wins), for maps that are looked up both
// ways. Positions (0 .. size() - 1) are stable until a pair is erased, which moves the last pair into its
// place. Text that pairs no longer use stays in the buffer until it is half of it, then the buffer is
// rewritten. A value type; not thread-safe (its owner locks).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/text.h"
#include "state/slot_index.h"

namespace davfp {

class TextMap {
 public:
  static constexpr size_t npos = SlotIndex::kNone;
  enum class Values { unindexed, indexed };

  explicit TextMap(Values values = Values::unindexed) : indexValues_(values == Values::indexed) {}

  size_t size() const { return pairs_.size(); }
  bool empty() const { return pairs_.empty(); }
  // Bytes of the keys and values held.
  size_t textBytes() const { return text_.size() - deadBytes_; }
  std::string_view key(size_t i) const { return {text_.data() + pairs_[i].at, pairs_[i].keySize}; }
  std::string_view value(size_t i) const {
    return {text_.data() + pairs_[i].at + pairs_[i].keySize, pairs_[i].valueSize};
  }

  // The position of the pair whose key is canonically equal to key, or npos.
  size_t find(std::string_view key) const;
  // With indexed values: the position of the pair that value was last given to and still holds it, or npos.
  size_t findValue(std::string_view value) const;

  // Adds the pair unless an equivalent key is there; the position of the pair with that key, and whether
  // it was added.
  std::pair<size_t, bool> tryAdd(std::string_view key, std::string_view value);
  // Adds the pair, or gives the pair with an equivalent key this value, keeping that key's spelling.
  void assign(std::string_view key, std::string_view value);
  // Adds the pair, or replaces the pair with an equivalent key, spelling included.
  void set(std::string_view key, std::string_view value);
  void setValue(size_t i, std::string_view value);
  // False when no key is equivalent to key.
  bool erase(std::string_view key);
  void eraseAt(size_t i);
  void clear();

  // Makes room for more pairs holding textBytes more of keys and values.
  void reserve(size_t pairs, size_t textBytes);

  // The same pairs, spelling included, in any order.
  bool sameAs(const TextMap& other) const;
  platform::CanonicalMap<std::string> toMap() const;

 private:
  struct Pair {
    uint64_t at;  // where the key begins in text_; its value follows it
    uint32_t keySize;
    uint32_t valueSize;
  };

  // Appends key and value to text_ (either may lie in text_ itself); where they begin.
  uint64_t appendText(std::string_view key, std::string_view value);
  void addAt(std::string_view key, std::string_view value, uint32_t keyHash);
  // Points pair i at new text: unindexes its value, drops its text.
  void rewrite(size_t i, std::string_view key, std::string_view value);
  void indexValue(size_t i);
  void unindexValue(size_t i);
  void dropText(size_t i);
  // Rewrites text_ without the text that no pair uses, once that is half of it.
  void compactIfSparse();

  bool indexValues_;
  std::string text_;
  std::vector<Pair> pairs_;
  SlotIndex keys_;
  SlotIndex values_;      // with indexValues_ only
  size_t deadBytes_ = 0;  // bytes of text_ that no pair uses
};

}  // namespace davfp
