// The world of one write-back unit test: a fake WebDAV server serving an in-memory tree under /dav/, and a
// real extension whose drive is published there. Helpers read what the server was sent and the state file.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_dav_tree.h"
#include "platform/error.h"
#include "support/fake_server.h"
#include "support/temp_dir.h"
#include "support/writeback_driver.h"

namespace davfp::testing {

struct WritebackWorld {
  FakeServer server;
  FakeDavTree tree{server};
  WritebackDriver drive{server.url("/dav/")};

  // The server stops answering before the tree that answers for it goes.
  ~WritebackWorld() { server.stop(); }

  // The requests since the last call, without the server probes (OPTIONS): "METHOD target", a PROPFIND with
  // its depth ("PROPFIND 1 /dav/a/"), a MOVE with its destination's path ("MOVE /dav/a /dav/b").
  std::vector<std::string> sent() {
    std::vector<std::string> out;
    for (const auto& r : server.requests()) {
      if (r.method == "OPTIONS") continue;
      std::string line = r.method;
      if (r.method == "PROPFIND") line += " " + r.header("Depth").value_or("?");
      line += " " + r.target;
      if (r.method == "MOVE") {
        std::string destination = r.header("Destination").value_or("?");
        std::string origin = server.url("");
        if (destination.rfind(origin, 0) == 0) destination.erase(0, origin.size());
        line += " " + destination;
        EXPECT_EQ(r.header("Overwrite"), "F") << line;
      }
      out.push_back(std::move(line));
    }
    server.clearRequests();
    return out;
  }

  // The state file as it stands: a failed request must leave it byte for byte as it was.
  std::string stateFile() { return readFile(drive.state().file()); }
};

inline void expectError(const std::optional<platform::Error>& error, std::string_view domain, long code) {
  ASSERT_TRUE(error.has_value()) << "expected " << domain << " " << code << ", got success";
  EXPECT_EQ(error->domain(), domain) << error->what();
  EXPECT_EQ(error->code(), code) << error->what();
}

}  // namespace davfp::testing
