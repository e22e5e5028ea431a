// The world of one write-back unit test: a fake WebDAV server serving an in-memory tree under /dav/, and a
// real extension whose drive is published there.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "platform/error.h"
#include "support/dav_test_util.h"
#include "support/fake_server.h"
#include "support/served_tree.h"
#include "support/temp_dir.h"
#include "support/writeback_driver.h"

namespace davfp::testing {

struct WritebackWorld {
  FakeServer server;
  ServedTree tree{server};
  WritebackDriver drive{server.url("/dav/")};

  // The state file as it stands: a failed request must leave it byte for byte as it was.
  std::string stateFile() { return readFile(drive.state().file()); }

  // A change pass finds nothing the platform does not know already: no deletion, no new or changed item.
  void expectQuiet() {
    auto pass = drive.changes();
    EXPECT_FALSE(pass.error);
    EXPECT_TRUE(pass.updated.empty() && pass.deleted.empty());
  }
};

}  // namespace davfp::testing
