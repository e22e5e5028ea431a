#include "state/state_file.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <set>

namespace davfp {
namespace {

TEST(StateFileTest, NamesStayInsideTheDirectoryAndNeverCollide) {
  struct Case {
    std::string domain;
    const char* name;
  } cases[] = {
      {"abc", "state-abc.json"},
      {"a/b", "state-a%2Fb.json"},
      {"../../etc/x", "state-..%2F..%2Fetc%2Fx.json"},
      {"%2F", "state-%252F.json"},
      {std::string("a\0b", 3), "state-a%00b.json"},
      {"caf\u00e9", "state-caf%C3%A9.json"},
      {"cafe\u0301", "state-caf%C3%A9.json"},  // canonically equal: the same domain, the same file
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.domain);
    EXPECT_EQ(stateFileName(c.domain), c.name);
  }
  // Every byte value alone and after a kept character: distinct names, none with "/".
  std::set<std::string> names;
  for (int b = 0; b < 256; ++b) {
    for (std::string prefix : {"", "a"}) {
      std::string name = stateFileName(prefix + static_cast<char>(b));
      EXPECT_EQ(name.find('/'), std::string::npos) << b;
      names.insert(name);
    }
  }
  EXPECT_EQ(names.size(), 512u);

  // Long identifiers still give names that file systems take (escaping triples non-ASCII text), and the
  // name never changes between versions: a changed name would orphan the file.
  std::string cjk;
  for (int i = 0; i < 40; ++i) cjk += "\u540d";
  for (const std::string& id : {std::string(300, 'a'), cjk, std::string(66, 'a') + cjk}) {
    SCOPED_TRACE(id);
    std::string name = stateFileName(id);
    EXPECT_LE(name.size(), 255u);
    EXPECT_EQ(name.find('/'), std::string::npos);
    EXPECT_NE(name, stateFileName(id + "b"));
    EXPECT_NE(name, stateFileName(id.substr(1)));
  }
  EXPECT_EQ(stateFileName(std::string(300, 'a')),
            "state-" + std::string(200, 'a') + "~EE7717EBA7A17E21B9899CB7E494A1D6.json");
  EXPECT_EQ(stateFileName(std::string(244, 'a')), "state-" + std::string(244, 'a') + ".json");
}

TEST(StateFileTest, DecodesAnyMemberOrderEscapedSlashesAndExtraMembers) {
  auto disk = decodeState(R"({"x":[1,{"y":[[]]}],"anchor":7,
      "listed":{"\/a":{"\/a\/b":"\"e1\"","/a/c":"3-100"},"/":{}},"ids":{"ID1":"\/a","ID2":"/a/b"},"z":null})");
  ASSERT_TRUE(disk);
  EXPECT_EQ(disk->anchor, 7);
  EXPECT_EQ(disk->ids, (StateDisk::Ids{{"ID1", "/a"}, {"ID2", "/a/b"}}));
  EXPECT_EQ(disk->listed, (StateDisk::Snapshots{{"/a", {{"/a/b", "\"e1\""}, {"/a/c", "3-100"}}}, {"/", {}}}));
}

TEST(StateFileTest, RoundTripsAnyText) {
  StateDisk::Ids ids{{"ID1", "/caf\u00e9/\"q\"\\"},
                     {"ID2", std::string("/nul\0x", 6)},
                     {"ID3", "/\t\n\b\f\r\x01\x1f\x7f"},
                     {"ID4", "/\U0001F600 \u2028/"}};
  StateDisk::Snapshots listed{{"/caf\u00e9", {{"/caf\u00e9/\"q\"\\", "W/\"x\""}}}, {"/empty", {}}};
  for (int64_t anchor : {int64_t{1}, int64_t{-5}, INT64_MAX, INT64_MIN}) {
    SCOPED_TRACE(anchor);
    std::string encoded = encodeState(ids, listed, anchor);
    auto disk = decodeState(encoded);
    ASSERT_TRUE(disk);
    EXPECT_EQ(disk->ids, ids);
    EXPECT_EQ(disk->listed, listed);
    EXPECT_EQ(disk->anchor, anchor);
    // Well-formed JSON for any other reader too, not only for our own.
    auto json = nlohmann::json::parse(encoded);
    EXPECT_EQ(json["ids"]["ID3"], ids["ID3"]);
    EXPECT_EQ(json["anchor"], anchor);
  }
}

TEST(StateFileTest, EscapesStringsTheSameWhereverTheyStand) {
  struct Case {
    std::string text, json;
  } cases[] = {
      {"", R"("")"},
      {"/plain", R"("/plain")"},
      {R"(/"q"\/)", R"("/\"q\"\\/")"},
      {std::string("/\0\x01\x1f\x7f\t\n\b\f\r", 10), "\"/\\u0000\\u0001\\u001F\x7f\\t\\n\\b\\f\\r\""},
      {"/caf\u00e9/\"\U0001F600\"", "\"/caf\u00e9/\\\"\U0001F600\\\"\""},
      // Not UTF-8: every bad sequence becomes U+FFFD.
      {"/x\"\xff", "\"/x\\\"\uFFFD\""},
      {"/truncated\xc3", "\"/truncated\uFFFD\""},
      {"\xe2\x82/\"\x01", "\"\uFFFD/\\\"\\u0001\""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.json);
    const std::string& j = c.json;
    EXPECT_EQ(encodeState({{"I", c.text}}, {{c.text, {{c.text, c.text}}}}, 1),
              R"({"ids":{"I":)" + j + R"(},"listed":{)" + j + ":{" + j + ":" + j + R"(}},"anchor":1})");
  }
}

TEST(StateFileTest, StateDataLoadsWhatStateDiskLoads) {
  const char* files[] = {
      R"({"ids":{"A":"/caf\u00e9","B":"/x"},"listed":{"/":{"/x":"1","/y":"2"},"/x":{}},"anchor":3})",
      // Members met twice: the later value, the first spelling; an object met twice starts over.
      "{\"ids\":{\"I\":\"/a\"},\"ids\":{\"caf\u00e9\":\"/1\",\"cafe\u0301\":\"/2\"},"
      "\"listed\":{\"/f\":{\"/f/a\":\"1\",\"/f/a\":\"2\"},\"/f\":{\"/f/b\":\"3\"},"
      "\"/caf\u00e9\":{\"/caf\u00e9/x\":\"1\",\"/cafe\u0301/x\":\"2\"}},\"anchor\":1}",
      R"({"ids":{},"listed":{},"anchor":1,"ids":{"X":"/y"}})",
  };
  for (const char* bytes : files) {
    SCOPED_TRACE(bytes);
    auto disk = decodeState(bytes);
    auto data = decodeStateData(bytes);
    ASSERT_TRUE(disk);
    ASSERT_TRUE(data);
    EXPECT_EQ(data->ids.toMap(), disk->ids);
    for (const auto& [id, path] : disk->ids) {
      EXPECT_EQ(data->ids.key(data->ids.find(id)), disk->ids.find(id)->first);  // the spelling too
    }
    StateDisk::Snapshots listed;
    for (const auto& [folder, children] : data->listed) listed.emplace(folder, children.toMap());
    EXPECT_EQ(listed, disk->listed);
    EXPECT_EQ(data->anchor, disk->anchor);
    EXPECT_EQ(encodeState(data->ids, data->listed, data->anchor).size(),
              encodeState(disk->ids, disk->listed, disk->anchor).size());
  }
  EXPECT_FALSE(decodeStateData(R"({"ids":{"I":"/a"},"listed":{},"anchor":"1"})"));
}

TEST(StateFileTest, APathThatIsNotUtf8StillLetsTheRestBeSaved) {
  auto disk =
      decodeState(encodeState({{"ID1", "/ok"}, {"ID2", "/bad\xff"}}, {{"/", {{"/bad\xff", "1-0"}}}}, 3));
  ASSERT_TRUE(disk);
  EXPECT_EQ(disk->ids["ID1"], "/ok");
  EXPECT_EQ(disk->ids["ID2"], "/bad\uFFFD");
  EXPECT_EQ(disk->anchor, 3);
}

TEST(StateFileTest, RejectsWhatIsNotAStateFile) {
  const std::string ok = R"("ids":{"I":"/a"},"listed":{"/":{"/a":"v"}})";
  const char* rejected[] = {
      "",
      "{}",
      R"({"ids":{},"listed":{}})",                         // no anchor
      R"({"ids":{},"anchor":1})",                          // no listed
      R"({"listed":{},"anchor":1})",                       // no ids
      R"({"ids":{"I":5},"listed":{},"anchor":1})",         // a path not a string
      R"({"ids":{},"listed":{"/":[]},"anchor":1})",        // a snapshot not an object
      R"({"ids":{},"listed":{"/":{"/a":1}},"anchor":1})",  // a version not a string
      R"({"ids":{},"listed":{},"anchor":"1"})",
      R"({"ids":{},"listed":{},"anchor":1.5})",
      R"({"ids":{},"listed":{},"anchor":9223372036854775808})",  // INT64_MAX + 1
      R"({"ids":{},"listed":{},"anchor":1e400})",
      R"([{"ids":{},"listed":{},"anchor":1}])",
      R"({"ids":{},"listed":{},"anchor":1)",
      "{\"ids\":{\"I\":\"/a\xff\"},\"listed\":{},\"anchor\":1}",  // invalid UTF-8
      "{\"ids\":{\"I\":\"/a\x01\"},\"listed\":{},\"anchor\":1}",  // raw control character
  };
  for (const char* bytes : rejected) {
    SCOPED_TRACE(bytes);
    EXPECT_FALSE(decodeState(bytes));
  }
  std::string good = "{" + ok + ",\"anchor\":1";
  EXPECT_TRUE(decodeState(good + "}"));
  EXPECT_FALSE(decodeState(good + std::string(1, '\0') + "}"));  // a NUL byte
}

}  // namespace
}  // namespace davfp
