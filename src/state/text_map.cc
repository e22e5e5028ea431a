#include "state/text_map.h"

#include <algorithm>
#include <functional>
#include <stdexcept>

namespace davfp {

size_t TextMap::find(std::string_view key) const {
  return keys_.find(key, SlotIndex::hash(key), [this](uint32_t i) { return this->key(i); });
}

size_t TextMap::findValue(std::string_view value) const {
  return values_.find(value, SlotIndex::hash(value), [this](uint32_t i) { return this->value(i); });
}

std::pair<size_t, bool> TextMap::tryAdd(std::string_view key, std::string_view value) {
  uint32_t hash = SlotIndex::hash(key);
  size_t i = keys_.find(key, hash, [this](uint32_t j) { return this->key(j); });
  if (i != npos) return {i, false};
  addAt(key, value, hash);
  return {pairs_.size() - 1, true};
}

void TextMap::assign(std::string_view key, std::string_view value) {
  auto [i, added] = tryAdd(key, value);
  if (!added) setValue(i, value);
}

void TextMap::set(std::string_view key, std::string_view value) {
  auto [i, added] = tryAdd(key, value);
  if (!added) rewrite(i, key, value);
}

void TextMap::setValue(size_t i, std::string_view value) { rewrite(i, key(i), value); }

bool TextMap::erase(std::string_view key) {
  size_t i = find(key);
  if (i == npos) return false;
  eraseAt(i);
  return true;
}

void TextMap::eraseAt(size_t i) {
  keys_.remove(SlotIndex::hash(key(i)), static_cast<uint32_t>(i));
  if (indexValues_) unindexValue(i);
  dropText(i);
  size_t last = pairs_.size() - 1;
  if (i != last) {
    // The last pair fills the hole, so that the pairs stay one dense array.
    keys_.replace(SlotIndex::hash(key(last)), static_cast<uint32_t>(last), static_cast<uint32_t>(i));
    if (indexValues_) {
      values_.replace(SlotIndex::hash(value(last)), static_cast<uint32_t>(last), static_cast<uint32_t>(i));
    }
    pairs_[i] = pairs_[last];
  }
  pairs_.pop_back();
  compactIfSparse();
}

void TextMap::clear() { *this = TextMap(indexValues_ ? Values::indexed : Values::unindexed); }

void TextMap::reserve(size_t pairs, size_t textBytes) {
  // Exactly what is asked the first time; else at least half as much again, so that many small batches do
  // not copy the buffers once each.
  auto grow = [](auto& buffer, size_t more) {
    size_t wanted = buffer.size() + more;
    if (wanted > buffer.capacity())
      buffer.reserve(std::max(wanted, buffer.capacity() + buffer.capacity() / 2));
  };
  grow(pairs_, pairs);
  grow(text_, textBytes);
  keys_.reserve(pairs_.size() + pairs);
  if (indexValues_) values_.reserve(pairs_.size() + pairs);
}

bool TextMap::sameAs(const TextMap& other) const {
  if (size() != other.size()) return false;
  for (size_t i = 0; i < size(); ++i) {
    size_t j = other.find(key(i));
    if (j == npos || other.key(j) != key(i) || other.value(j) != value(i)) return false;
  }
  return true;
}

platform::CanonicalMap<std::string> TextMap::toMap() const {
  platform::CanonicalMap<std::string> out;
  out.reserve(size());
  for (size_t i = 0; i < size(); ++i) out.emplace(key(i), value(i));
  return out;
}

uint64_t TextMap::appendText(std::string_view key, std::string_view value) {
  auto inside = [this](std::string_view s) {
    std::less_equal<const char*> le;
    return !s.empty() && le(text_.data(), s.data()) && !le(text_.data() + text_.size(), s.data());
  };
  if (inside(key) || inside(value)) {
    // Appending may move text_ before these are read.
    std::string k(key), v(value);
    return appendText(k, v);
  }
  if (key.size() > UINT32_MAX || value.size() > UINT32_MAX) throw std::length_error("TextMap: text too long");
  uint64_t at = text_.size();
  text_.append(key);
  text_.append(value);
  return at;
}

void TextMap::addAt(std::string_view key, std::string_view value, uint32_t keyHash) {
  if (pairs_.size() >= SlotIndex::kNone) throw std::length_error("TextMap: too many pairs");
  uint64_t at = appendText(key, value);
  pairs_.push_back(Pair{at, static_cast<uint32_t>(key.size()), static_cast<uint32_t>(value.size())});
  keys_.add(keyHash, static_cast<uint32_t>(pairs_.size() - 1));
  if (indexValues_) indexValue(pairs_.size() - 1);
}

void TextMap::rewrite(size_t i, std::string_view key, std::string_view value) {
  uint64_t at = appendText(key, value);  // first: it may throw, and key or value may lie in the old text
  if (indexValues_) unindexValue(i);
  dropText(i);
  pairs_[i] = Pair{at, static_cast<uint32_t>(key.size()), static_cast<uint32_t>(value.size())};
  if (indexValues_) indexValue(i);
  compactIfSparse();
}

void TextMap::indexValue(size_t i) {
  std::string_view v = value(i);
  uint32_t hash = SlotIndex::hash(v);
  uint32_t held = values_.find(v, hash, [this](uint32_t j) { return this->value(j); });
  if (held == SlotIndex::kNone) {
    values_.add(hash, static_cast<uint32_t>(i));
  } else {
    values_.replace(hash, held, static_cast<uint32_t>(i));  // the value met last wins
  }
}

void TextMap::unindexValue(size_t i) { values_.remove(SlotIndex::hash(value(i)), static_cast<uint32_t>(i)); }

void TextMap::dropText(size_t i) { deadBytes_ += pairs_[i].keySize + pairs_[i].valueSize; }

void TextMap::compactIfSparse() {
  if (deadBytes_ * 2 <= text_.size()) return;
  std::string text;
  text.reserve(text_.size() - deadBytes_);
  for (Pair& p : pairs_) {
    uint64_t at = text.size();
    text.append(text_, p.at, p.keySize + p.valueSize);
    p.at = at;
  }
  text_ = std::move(text);
  deadBytes_ = 0;
}

}  // namespace davfp
