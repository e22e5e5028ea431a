// Finding items by path the way a file manager browses: folder by folder from the root.
#include "host/path_resolver.h"

#include <gtest/gtest.h>

#include "fake_extension.h"
#include "host/failure.h"

namespace davfp::cli {
namespace {

using testing::FakeExtension;

class PathResolverTest : public ::testing::Test {
 protected:
  PathResolverTest() {
    ext_->add("docs", platform::kRootContainerItemIdentifier, "docs", true);
    ext_->add("sub", "docs", "Übersicht", true);  // composed "Ü"
    ext_->add("a", "sub", "a.txt", false);
    ext_->add("f", platform::kRootContainerItemIdentifier, "file.txt", false);
  }

  Failure failureOf(const std::string& path) {
    try {
      resolver_.resolve(DrivePath::parse(path));
    } catch (const Failure& f) {
      return f;
    }
    ADD_FAILURE() << path << " resolved";
    return Failure{{}, platform::Error("none", 0), {}};
  }

  std::shared_ptr<FakeExtension> ext_ = std::make_shared<FakeExtension>();
  client::PlatformClient platform_{ext_};
  PathResolver resolver_{platform_};
};

TEST_F(PathResolverTest, FindsItemsByBrowsingEachFolderOnce) {
  EXPECT_EQ(resolver_.resolve(DrivePath::parse("/"))->itemIdentifier(),
            platform::kRootContainerItemIdentifier);
  EXPECT_EQ(resolver_.resolve(DrivePath::parse("docs/Übersicht/a.txt"))->itemIdentifier(), "a");
  // The same name decomposed ("U" and a combining diaeresis) names the same folder.
  EXPECT_EQ(resolver_
                .resolve(DrivePath::parse("docs/U\xCC\x88"
                                          "bersicht"))
                ->itemIdentifier(),
            "sub");
  EXPECT_EQ(ext_->enumerations(), 3);  // the root, docs, the subfolder: each listed once
  EXPECT_EQ(resolver_.find(DrivePath::parse("docs/missing")), nullptr);
  EXPECT_EQ(resolver_.pathOf("a"), "/docs/Übersicht/a.txt");
  EXPECT_EQ(resolver_.pathOf("never-seen"), std::nullopt);
}

TEST_F(PathResolverTest, FailuresNameThePartOfThePathThatIsWrong) {
  Failure missing = failureOf("docs/nothing/deeper/still");
  EXPECT_EQ(missing.subject, "/docs/nothing");
  EXPECT_TRUE(missing.error.is(platform::kFileProviderErrorDomain, -1005));
  Failure throughFile = failureOf("file.txt/x");
  EXPECT_EQ(throughFile.subject, "/file.txt");
  EXPECT_EQ(throughFile.error.code(), ENOTDIR);
  EXPECT_THROW(resolver_.find(DrivePath::parse("nothing/x")), Failure);
}

}  // namespace
}  // namespace davfp::cli
