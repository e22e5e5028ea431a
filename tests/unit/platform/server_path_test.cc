#include "platform/server_path.h"

#include <gtest/gtest.h>

namespace davfp::platform {
namespace {

TEST(ServerPathTest, ParentAndJoin) {
  struct Case {
    const char* path;
    const char* parent;
  } cases[] = {{"/a/b", "/a"}, {"/a", "/"},       {"/", "/"}, {"a", "/"},
               {"a/b", "a"},   {"/a/b/", "/a/b"}, {"", "/"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(parentPath(c.path), c.parent);
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
      {"/a", "/a/x", false},
      {"/anything", "/", true},
      {"/", "/", true},
      {"/b/a", "/a", false},
      {"/caf\u00e9/x", "/cafe\u0301", true},  // composed under decomposed
      {"/cafe\u0301", "/caf\u00e9", true},
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
