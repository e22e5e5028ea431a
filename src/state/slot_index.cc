#include "state/slot_index.h"

#include <algorithm>
#include <bit>

#include "platform/text.h"

namespace davfp {
namespace {

// At most four fifths full: linear probing slows down quickly beyond. Each probe compares the slot's hash
// before any text, so a probe is one 8-byte read of a run of adjacent slots.
size_t capacityFor(size_t n) { return std::bit_ceil(n + n / 4 + 1); }

}  // namespace

uint32_t SlotIndex::hash(std::string_view text) {
  uint64_t h = platform::CanonicalHash{}(text);
  return static_cast<uint32_t>(h ^ (h >> 32));
}

bool SlotIndex::equal(std::string_view a, std::string_view b) { return platform::canonicalEqual(a, b); }

void SlotIndex::clear() {
  slots_.clear();
  slots_.shrink_to_fit();
  mask_ = 0;
  size_ = 0;
}

void SlotIndex::reserve(size_t n) {
  if (capacityFor(n) > slots_.size()) rehash(capacityFor(n));
}

void SlotIndex::rehash(size_t capacity) {
  std::vector<Slot> old = std::move(slots_);
  slots_.assign(capacity, Slot{});
  mask_ = capacity - 1;
  for (const Slot& s : old) {
    if (s.ref == kNone) continue;
    size_t i = s.hash & mask_;
    while (slots_[i].ref != kNone) i = (i + 1) & mask_;
    slots_[i] = s;
  }
}

void SlotIndex::add(uint32_t hash, uint32_t ref) {
  if (capacityFor(size_ + 1) > slots_.size())
    rehash(std::max<size_t>(capacityFor(size_ + 1), slots_.size() * 2));
  size_t i = hash & mask_;
  while (slots_[i].ref != kNone) i = (i + 1) & mask_;
  slots_[i] = Slot{hash, ref};
  ++size_;
}

size_t SlotIndex::slotOf(uint32_t hash, uint32_t ref) const {
  if (slots_.empty()) return slots_.size();
  for (size_t i = hash & mask_;; i = (i + 1) & mask_) {
    if (slots_[i].ref == kNone) return slots_.size();
    if (slots_[i].ref == ref && slots_[i].hash == hash) return i;
  }
}

bool SlotIndex::replace(uint32_t hash, uint32_t from, uint32_t to) {
  size_t i = slotOf(hash, from);
  if (i == slots_.size()) return false;
  slots_[i].ref = to;
  return true;
}

bool SlotIndex::remove(uint32_t hash, uint32_t ref) {
  size_t hole = slotOf(hash, ref);
  if (hole == slots_.size()) return false;
  // Backward shift: every later entry of the run whose home is not between the hole and itself moves into
  // the hole, so that no probe sequence is cut and no tombstones pile up.
  for (size_t j = (hole + 1) & mask_; slots_[j].ref != kNone; j = (j + 1) & mask_) {
    size_t home = slots_[j].hash & mask_;
    bool stays = hole <= j ? (hole < home && home <= j) : (hole < home || home <= j);
    if (stays) continue;
    slots_[hole] = slots_[j];
    hole = j;
  }
  slots_[hole] = Slot{};
  --size_;
  return true;
}

}  // namespace davfp
