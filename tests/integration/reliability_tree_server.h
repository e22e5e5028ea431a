// A fake WebDAV server serving an in-memory tree under /dav/, for the reliability tests. The server stops
// answering (and its connections end) before the tree that answers for it goes.
#pragma once

#include "support/fake_server.h"
#include "support/served_tree.h"

namespace davfp::testing {

struct TreeServer {
  FakeServer server;
  ServedTree tree{server};  // stops the server when it goes
};

}  // namespace davfp::testing
