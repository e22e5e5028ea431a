#include "dav/drive_config.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/temp_dir.h"
#include "support/test_env.h"

namespace davfp {
namespace {

const DriveInfo kDrive{"Docs", "http://127.0.0.1:8080/dav/"};
const std::string kEntry = R"({"name":"Docs","url":"http://127.0.0.1:8080/dav/"})";

TEST(DriveConfigTest, LooksTheDomainUpInAFileThatDecodesWhole) {
  testing::TestEnv env;
  std::filesystem::create_directories(env.groupPath());
  std::string deep(200000, '[');
  deep += std::string(200000, ']');
  const std::string padded = R"({"d":{"name":"N","url":"u","pad":")" + std::string(8 << 20, 'x');
  struct Case {
    const char* what;
    std::string file;
    std::string domain;
    std::optional<DriveInfo> drive;
  } cases[] = {
      {"found", "{\"d\":" + kEntry + "}", "d", kDrive},
      {"other domain", "{\"e\":" + kEntry + "}", "d", std::nullopt},
      {"composed file, decomposed domain", "{\"caf\u00e9\":" + kEntry + "}", "cafe\u0301", kDrive},
      {"extra members ignored", R"({"d":{"x":[1,{"y":null}],"url":"u","name":"N","z":{}}})", "d",
       DriveInfo{"N", "u"}},
      {"deeply nested extra member", "{\"d\":{\"name\":\"N\",\"url\":\"u\",\"x\":" + deep + "}}", "d",
       DriveInfo{"N", "u"}},
      {"empty file", "", "d", std::nullopt},
      {"trailing bytes", "{\"d\":" + kEntry + "}x", "d", std::nullopt},
      {"nesting without end", deep.substr(0, 200000), "d", std::nullopt},
      {"many megabytes", padded + "\"}}", "d", DriveInfo{"N", "u"}},
      {"many megabytes in a string without end", padded + "}}", "d", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    testing::writeFile(env.groupPath() + "/drives.json", c.file);
    EXPECT_EQ(driveInfo(c.domain, env), c.drive);
  }
}

}  // namespace
}  // namespace davfp
