// The world of the extension's unit tests: a tree in memory served over WebDAV by the fake server under
// /dav/, and a TestDrive published there. DriveWorld is the world as a value (for table-driven tests that
// make one per case); DriveTest is the same as a gtest fixture; WritebackWorld is a drive whose folders the
// platform has all enumerated, as write-back requests find it.
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

  // The targets of the requests of this method sent since the last look, in order.
  Strings sent(std::string_view method) {
    Strings out;
    for (const auto& line : tree.sent()) {
      if (line.starts_with(std::string(method) + " ")) out.push_back(line.substr(method.size() + 1));
    }
    return out;
  }
  // The paths the server holds under folder (folder included).
  Strings pathsUnder(const std::string& folder) {
    Strings out;
    for (auto& path : tree.paths()) {
      if (path == folder || path.starts_with(folder + "/")) out.push_back(path);
    }
    return out;
  }
};

// /docs/a.txt, /docs/sub/deep.txt, /archive/taken.txt, /a/x.txt, /a/b/y.txt, /c.txt and the empty /e; the
// folders enumerated but /docs/sub and /e (each listing is a save); nothing sent since.
struct WritebackWorld : DriveWorld {
  WritebackWorld() {
    for (auto [path, body] : {std::pair{"/docs/a.txt", "A"}, {"/docs/sub/deep.txt", "D"}, {"/archive/taken.txt", "T"},
                              {"/a/x.txt", "x"}, {"/a/b/y.txt", "y"}, {"/c.txt", "c"}}) {
      tree.file(path, body);
    }
    tree.folder("/e");
    for (const char* folder : {"/", "/docs", "/archive", "/a", "/a/b"}) drive.list(drive.id(folder));
    tree.sent();
  }
};

class DriveTest : public ::testing::Test, protected DriveWorld {};

inline Strings sorted(Strings strings) {
  std::sort(strings.begin(), strings.end());
  return strings;
}

inline Strings concat(Strings a, const Strings& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
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
