// What the state remembers of a listing's entries.
#include "provider/snapshots.h"

#include <gtest/gtest.h>

#include "state/state.h"
#include "unit/state/state_file_check.h"

namespace davfp {
namespace {

TEST(SnapshotsTest, EachChildWithItsVersionTheFirstOfEqualPathsWinning) {
  testing::TestEnv env;
  State state("d", env);
  state.remember("/f",
                 snapshotOf({DavEntry{.path = "/f/a", .etag = "1"}, DavEntry{.path = "/f/a", .etag = "2"},
                             DavEntry{.path = "/f/b", .size = 12}}));
  // Without an entity tag, the version is made from the size and the date (none: 0).
  EXPECT_EQ(state.knownFolders(), (State::Snapshots{{"/f", {{"/f/a", "1"}, {"/f/b", "12-0"}}}}));
}

}  // namespace
}  // namespace davfp
