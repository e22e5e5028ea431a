#include "platform/server_path.h"

#include <gtest/gtest.h>

namespace davfp::platform {
namespace {

TEST(ServerPathTest, ParentAndJoin) {
  for (auto [path, parent] : {std::pair{"/a/b", "/a"}, {"/a", "/"}, {"/", "/"}, {"a/b", "a"}, {"/a/b/", "/a/b"}}) {
    EXPECT_EQ(parentPath(path), parent) << path;
  }
  EXPECT_EQ(join("/", "a"), "/a");
  EXPECT_EQ(join("/a", "b"), "/a/b");
  EXPECT_EQ(join("/a", "b/c"), "/a/b/c");  // the name goes in verbatim
}

TEST(ServerPathTest, UnderComparesWholeComponentsCanonically) {
  struct Case {
    const char* path;
    const char* folder;
    bool under;
  } cases[] = {
      {"/a", "/a", true},
      {"/a/x", "/a", true},
      {"/ab", "/a", false},
      {"/anything", "/", true},
      {"/", "/", true},
      {"/caf\u00e9/x", "/cafe\u0301", true},  // composed under decomposed
      {"/cafe", "/caf\u00e9", false},
      {"/e\u0301/x", "/e", false},  // an accent is part of the character, not a new component
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.path) + " under " + c.folder);
    EXPECT_EQ(isUnder(c.path, c.folder), c.under);
  }
  EXPECT_TRUE(isUnderAny("/b/c", {"/a", "/b"}));
  EXPECT_FALSE(isUnderAny("/bc", {"/a", "/b"}));
  EXPECT_FALSE(isUnderAny("/a", {}));
}

}  // namespace
}  // namespace davfp::platform
