// The state file: its name per domain, the JSON it is written as (any text, any reader), and what is refused.
#include "state/state_file.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <set>

namespace davfp {
namespace {

TEST(StateFileTest, NamesStayInsideTheDirectoryAndNeverCollide) {
  // The name never changes between versions: a changed name would orphan the file.
  const std::pair<std::string, std::string> cases[] = {
      {"a/b", "state-a%2Fb.json"},
      {"../../etc/x", "state-..%2F..%2Fetc%2Fx.json"},
      {"%2F", "state-%252F.json"},
      {"cafe\u0301", "state-caf%C3%A9.json"},  // canonically equal to the composed name: the same file
      {std::string(244, 'a'), "state-" + std::string(244, 'a') + ".json"},
      {std::string(300, 'a'), "state-" + std::string(200, 'a') + "~EE7717EBA7A17E21B9899CB7E494A1D6.json"},
      {"~", "state-%7E.json"},  // kept only in the long names' hash mark
      // Cut before an escape, never inside one.
      {std::string(198, 'a') + "\u00e9" + std::string(60, 'b'),
       "state-" + std::string(198, 'a') + "~064A80CB4683044314816F81A9F2748C.json"},
  };
  for (const auto& [domain, name] : cases) EXPECT_EQ(stateFileName(domain), name);
  std::set<std::string> names;
  for (int b = 0; b < 256; ++b) {
    for (std::string prefix : {"", "a"}) names.insert(stateFileName(prefix + static_cast<char>(b)));
  }
  EXPECT_EQ(names.size(), 512u);
  std::string cjk;  // escaping triples non-ASCII text: a name past 255 bytes is cut
  for (int i = 0; i < 40; ++i) cjk += "\u540d";
  names.insert(stateFileName(std::string(66, 'a') + cjk));
  for (const auto& name : names) {
    EXPECT_EQ(name.find('/'), std::string::npos) << name;
    EXPECT_LE(name.size(), 255u) << name;
  }
}

TEST(StateFileTest, RoundTripsAnyTextAsJsonForAnyReader) {
  const std::string texts[] = {"", "/caf\u00e9/\"q\"\\", std::string("/nul\0x", 6), "/\t\n\b\f\r\x01\x1f\x7f",
                               "/\U0001F600 \u2028/"};
  for (const auto& text : texts) {
    SCOPED_TRACE(text);
    StateDisk::Ids ids{{"I", text}, {"J", "/ok"}};
    StateDisk::Snapshots listed{{text, {{text, text}}}, {"/empty", {}}};
    std::string encoded = encodeState(ids, listed, INT64_MIN);
    auto disk = decodeState(encoded);
    ASSERT_TRUE(disk);
    EXPECT_EQ(disk->ids, ids);
    EXPECT_EQ(disk->listed, listed);
    EXPECT_EQ(disk->anchor, INT64_MIN);
    EXPECT_EQ(nlohmann::json::parse(encoded)["listed"][text][text], text);
  }
  // Text that is not UTF-8 is saved with U+FFFD for each bad sequence; the rest is saved as it is.
  const std::pair<std::string, std::string> notUtf8[] = {
      {"/bad\"\xff", "/bad\"\uFFFD"}, {"/cut\xc3", "/cut\uFFFD"}, {"\xe2\x82/\x01", "\uFFFD/\x01"}};
  for (const auto& [bad, saved] : notUtf8) {
    SCOPED_TRACE(saved);
    std::string encoded = encodeState({{"I", bad}, {"J", "/ok"}}, {{"/", {{bad, bad}}}}, 3);
    auto json = nlohmann::json::parse(encoded);
    EXPECT_EQ(json["ids"]["I"], saved);
    EXPECT_EQ(json["listed"]["/"][saved], saved);
    EXPECT_EQ(decodeState(encoded)->ids["J"], "/ok");
  }
}

TEST(StateFileTest, RejectsWhatIsNotAStateFile) {
  const std::string rejected[] = {
      "",
      "{}",
      R"({"ids":{},"listed":{}})",
      R"({"listed":{},"anchor":1})",
      R"({"ids":{"I":5},"listed":{},"anchor":1})",
      R"({"ids":{},"listed":{"/":[]},"anchor":1})",
      R"({"ids":{},"listed":{"/":"/a"},"anchor":1})",
      R"({"ids":{},"listed":{"/":{"/a":1}},"anchor":1})",
      R"({"ids":{},"listed":{},"anchor":"1"})",
      R"({"ids":{},"listed":{},"anchor":9223372036854775808})",
      R"({"ids":{},"listed":{},"anchor":1e400})",
      R"([{"ids":{},"listed":{},"anchor":1}])",
      R"({"ids":{},"listed":{},"anchor":1)",
      "{\"ids\":{\"I\":\"/a\xff\"},\"listed\":{},\"anchor\":1}",
      "{\"ids\":{\"I\":\"/a\x01\"},\"listed\":{},\"anchor\":1}",
      std::string(R"({"ids":{},"listed":{},"anchor":1)") + '\0' + "}",
  };
  for (const auto& bytes : rejected) {
    SCOPED_TRACE(bytes);
    EXPECT_FALSE(decodeState(bytes));
    EXPECT_FALSE(decodeStateData(bytes));
  }
  EXPECT_TRUE(decodeState(R"({"ids":{},"listed":{},"anchor":1})"));
}

}  // namespace
}  // namespace davfp
