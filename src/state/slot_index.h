// SlotIndex: a hash index from text to small integers (references to records kept elsewhere), for tables
// that hold their text contiguously. Open addressing with linear probing over one array of (hash, reference)
// slots: no allocation per entry, and since each slot keeps its hash, growing and erasing never rehash text.
// The index does not know the text; lookups take a function that returns the text of a reference. Text is
// compared and hashed canonically (platform/text.h). Not thread-safe; its owner locks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace davfp {

class SlotIndex {
 public:
  static constexpr uint32_t kNone = UINT32_MAX;

  // The canonical hash of text, as the index keeps it.
  static uint32_t hash(std::string_view text);

  size_t size() const { return size_; }
  void clear();
  // Makes room for n entries in all.
  void reserve(size_t n);

  // The reference whose text is canonically equal to text (textOf(reference) gives a reference's text), or
  // kNone.
  template <class TextOf>
  uint32_t find(std::string_view text, uint32_t hash, const TextOf& textOf) const {
    if (slots_.empty()) return kNone;
    for (size_t i = hash & mask_;; i = (i + 1) & mask_) {
      const Slot& s = slots_[i];
      if (s.ref == kNone) return kNone;
      if (s.hash == hash && equal(text, textOf(s.ref))) return s.ref;
    }
  }
  // Adds ref under hash. The caller has made sure that no canonically equal text is indexed.
  void add(uint32_t hash, uint32_t ref);
  // The entry (hash, from) now refers to to; false when there is no such entry.
  bool replace(uint32_t hash, uint32_t from, uint32_t to);
  // Removes the entry (hash, ref); false when there is no such entry.
  bool remove(uint32_t hash, uint32_t ref);

 private:
  struct Slot {
    uint32_t hash = 0;
    uint32_t ref = kNone;
  };
  static bool equal(std::string_view a, std::string_view b);
  // The slot of the entry (hash, ref), or slots_.size().
  size_t slotOf(uint32_t hash, uint32_t ref) const;
  void rehash(size_t capacity);

  std::vector<Slot> slots_;  // a power of two in size, or empty
  size_t mask_ = 0;
  size_t size_ = 0;
};

}  // namespace davfp
