#include "state/text_map.h"

#include <gtest/gtest.h>

#include <random>

namespace davfp {
namespace {

using platform::canonicalEqual;

// Texts from a small set: each of `numbers` names comes composed and decomposed, with and without quotation
// marks, so that operations keep meeting equivalent keys, shared values, long probe runs and erased slots.
std::string text(std::mt19937& rng, int numbers) {
  static const char* const spellings[] = {"caf\u00e9", "cafe\u0301"};
  int n = static_cast<int>(rng() % (4 * numbers));
  return "/" + std::to_string(n % numbers) + spellings[n / numbers % 2] + (n / numbers / 2 ? "\"q\"" : "");
}

// A reference for one TextMap: key -> value in a CanonicalMap, and value -> the key that it was last given to
// while that key still holds it.
struct Model {
  platform::CanonicalMap<std::string> pairs;
  platform::CanonicalMap<std::string> owner;

  void give(const std::string& key, const std::string& value) {
    take(key);
    owner.erase(value);
    owner.emplace(value, key);
  }
  void take(const std::string& key) {
    auto it = pairs.find(key);
    if (it == pairs.end()) return;
    auto o = owner.find(it->second);
    if (o != owner.end() && canonicalEqual(o->second, key)) owner.erase(o);
  }
};

void expectMatches(const TextMap& map, const Model& model) {
  ASSERT_EQ(map.size(), model.pairs.size());
  EXPECT_EQ(map.toMap(), model.pairs);
  for (const auto& [key, value] : model.pairs) {
    size_t i = map.find(key);
    ASSERT_NE(i, TextMap::npos) << key;
    EXPECT_EQ(map.key(i), key);  // the spelling too
    EXPECT_EQ(map.value(i), value);
    size_t v = map.findValue(value);
    auto o = model.owner.find(value);
    if (o == model.owner.end()) {
      EXPECT_EQ(v, TextMap::npos) << value;
    } else {
      ASSERT_NE(v, TextMap::npos) << value;
      EXPECT_EQ(map.key(v), o->second) << value;
    }
  }
}

TEST(TextMapTest, AgreesWithAReferenceThroughRandomOperations) {
  std::mt19937 rng(7);
  TextMap map(TextMap::Values::indexed);
  Model model;
  for (int step = 0; step < 20000; ++step) {
    std::string key = text(rng, 400), value = text(rng, 20);
    int op = static_cast<int>(rng() % 7);
    SCOPED_TRACE("step " + std::to_string(step) + " op " + std::to_string(op) + " " + key + " " + value);
    auto held = model.pairs.find(key);
    switch (op) {
      case 0: {  // tryAdd: the first spelling and value stay
        auto [i, added] = map.tryAdd(key, value);
        EXPECT_EQ(added, held == model.pairs.end());
        if (added) {
          model.give(key, value);
          model.pairs.emplace(key, value);
        }
        EXPECT_TRUE(canonicalEqual(map.key(i), key));
        break;
      }
      case 1: {  // assign: the first spelling stays, the value changes
        std::string k = held == model.pairs.end() ? key : held->first;
        model.give(k, value);
        model.pairs.erase(key);
        model.pairs.emplace(k, value);
        map.assign(key, value);
        break;
      }
      case 2:  // set: spelling and value replaced
        model.give(key, value);
        model.pairs.erase(key);
        model.pairs.emplace(key, value);
        map.set(key, value);
        break;
      case 3:
      case 4:  // erase, by key or by position
        if (held != model.pairs.end()) {
          model.take(key);
          model.pairs.erase(held);
        }
        if (op == 3) {
          EXPECT_EQ(map.erase(key), held != model.pairs.end());
        } else if (size_t i = map.find(key); i != TextMap::npos) {
          map.eraseAt(i);
        }
        break;
      case 5: {  // text taken from the map itself, which may move while it is written
        if (map.empty()) break;
        size_t i = rng() % map.size(), j = rng() % map.size();
        std::string k(map.key(i)), v(map.value(j));
        model.give(k, v);
        model.pairs.erase(k);
        model.pairs.emplace(k, v);
        if (rng() % 2) {
          map.setValue(i, map.value(j));
        } else {
          map.set(map.key(i), map.value(j));
        }
        break;
      }
      case 6:
        if (step % 500 == 6) {  // now and then everything goes
          map.clear();
          model = {};
        }
        break;
    }
    if (step % 97 == 0 || map.size() < 8) expectMatches(map, model);
    if (::testing::Test::HasFailure()) return;
  }
  expectMatches(map, model);
}

TEST(TextMapTest, SameAsComparesSpellingAndValuesInAnyOrder) {
  TextMap a, b;
  a.set("/x", "1");
  a.set("/caf\u00e9", "2");
  b.set("/caf\u00e9", "2");
  b.set("/x", "1");
  EXPECT_TRUE(a.sameAs(b));
  b.set("/cafe\u0301", "2");  // equivalent, spelled otherwise
  EXPECT_FALSE(a.sameAs(b));
  b.set("/caf\u00e9", "3");
  EXPECT_FALSE(a.sameAs(b));
  b.set("/caf\u00e9", "2");
  EXPECT_TRUE(a.sameAs(b));
  b.set("/y", "1");
  EXPECT_FALSE(a.sameAs(b));
  EXPECT_FALSE(b.sameAs(a));
}

}  // namespace
}  // namespace davfp
