// The launch of the host application as a real process: found through its desktop entry in a private
// XDG_DATA_HOME, started with "--login", and waited for until it publishes the drive.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "dav/dav.h"
#include "platform/env.h"
#include "support/dav_test_util.h"
#include "support/fake_server.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace davfp::testing {
namespace {

const std::string kDomain = "org.example.launched";

// A stand-in host application: it notes how it was started and, when started with "--login", publishes the
// drive a second later, atomically, unless the test's directory is gone by then.
std::string hostScript(const std::string& drivesJson) {
  return "#!/bin/sh\n"
         "printf '%s\\n' \"$*\" >> \"$XDG_DATA_HOME/launches\"\n"
         "[ \"$1\" = --login ] || exit 1\n"
         "sleep 1\n"
         "dir=\"$XDG_DATA_HOME/org.davfp.shared\"\n"
         "mkdir \"$dir\" 2>/dev/null\n"
         "[ -d \"$dir\" ] || exit 0\n"
         "printf '%s' '" +
         drivesJson +
         "' > \"$dir/drives.json.new\"\n"
         "mv \"$dir/drives.json.new\" \"$dir/drives.json\"\n";
}

TEST(LaunchTest, ARequestOnAColdCacheStartsTheHostApplicationAndFindsItsDriveByPolling) {
  TempDir home;
  FakeServer server;
  server.on("PROPFIND", "/dav/",
            FakeServer::Reply{.status = 207, .body = multistatus({{"/dav/", true}, {"/dav/a.txt"}})});

  const std::string script = home.file("host-app");
  writeFile(script,
            hostScript(R"({")" + kDomain + R"(":{"name":"Docs","url":")" + server.url("/dav/") + R"("}})"));
  ASSERT_EQ(::chmod(script.c_str(), 0755), 0);
  ASSERT_EQ(::mkdir(home.file("applications").c_str(), 0755), 0);
  writeFile(home.file("applications/org.davfp.host.desktop"),
            "[Desktop Entry]\nType=Application\nName=Host (test)\nExec=\"" + script + "\" %u\n");

  ScopedEnv env;
  env.set("XDG_DATA_HOME", home.path());
  env.set("XDG_DATA_DIRS", home.file("no-system-entries"));

  auto dav = Dav::create(kDomain, platform::Env::standard());  // the product's timings: polls 500 ms apart
  auto entries = dav->list("/", 1);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[1].path, "/a.txt");

  EXPECT_EQ(readFile(home.file("launches")), "--login\n");
  // One probe found the drive that appeared only after the launch.
  auto received = server.requests();
  ASSERT_EQ(received.size(), 2u);
  EXPECT_EQ(received[0].method, "OPTIONS");
  EXPECT_EQ(received[1].method, "PROPFIND");
}

}  // namespace
}  // namespace davfp::testing
