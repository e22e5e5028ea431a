// The world of the extension's unit tests: a tree in memory served over WebDAV by the fake server under
// /dav/, and a TestDrive published there. DriveWorld is the world as a value (for table-driven tests that
// make one per case); DriveTest is the same as a gtest fixture.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/dav_test_util.h"
#include "support/fake_server.h"
#include "support/served_tree.h"
#include "support/temp_dir.h"
#include "support/test_drive.h"

namespace davfp::testing {

using Strings = std::vector<std::string>;

struct DriveWorld {
  FakeServer server;
  ServedTree tree{server};
  // An unreachable server fails at once: no waiting for a host application.
  TestDrive drive{server.url("/dav/"), DavTimings{.polls = 0}};
  TestEnv& env = drive.env();

  // The state file as it stands: a failed request must leave it byte for byte as it was.
  std::string stateFile() { return readFile(drive.state().file()); }

  // A change pass finds nothing the platform does not know already: no deletion, no new or changed item.
  void expectQuiet() {
    auto pass = drive.changes();
    EXPECT_FALSE(pass->error());
    EXPECT_TRUE(pass->updated().empty() && pass->deleted().empty());
  }
};

class DriveTest : public ::testing::Test, protected DriveWorld {
 protected:
  using Looked = TestDrive::Looked;
  using Fetched = TestDrive::Fetched;
};

inline Strings sorted(Strings strings) {
  std::sort(strings.begin(), strings.end());
  return strings;
}

// The item of the list with this identifier, or null.
inline platform::ItemRef findItem(const std::vector<platform::ItemRef>& items,
                                  const platform::ItemIdentifier& id) {
  auto it = std::find_if(items.begin(), items.end(),
                         [&](const auto& item) { return item->itemIdentifier() == id; });
  return it == items.end() ? nullptr : *it;
}

// The items' file names, in order.
inline Strings filenames(const std::vector<platform::ItemRef>& items) {
  Strings out;
  for (const auto& item : items) out.push_back(item->filename());
  return out;
}

}  // namespace davfp::testing
