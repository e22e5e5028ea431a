// Faults, through the extension as the platform drives it: a real server that dies in the middle of a
// download, an upload or a listing and comes back on another port; a disk that fills during a save of the
// state.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "state/state_file.h"
#include "support/drive_test.h"
#include "support/host_drive.h"

namespace davfp::testing {
namespace {

namespace fs = std::filesystem;
using platform::kFileProviderErrorDomain;
using platform::kRootContainerItemIdentifier;
using namespace platform::field;

constexpr size_t kFileBytes = 2 << 20;
constexpr int kFolderFiles = 200;

// Which way the bytes that a DyingProxy counts go.
enum class Direction { toServer, toClient };

sockaddr_in loopback(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port));
  return address;
}

// A TCP relay in front of a server on another loopback port, one connection to it per connection taken,
// that dies on cue as the server would if killed: after some bytes in one direction (over every connection)
// it passes no more, stops listening (connections are refused from then on), runs onDeath, and ends every
// connection. onDeath runs on a relay thread: what it does is done by the time the client can notice.
class DyingProxy {
 public:
  explicit DyingProxy(int upstream) : upstream_(upstream) {
    sockaddr_in address = loopback(0);
    socklen_t length = sizeof address;
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listenFd_, 64) != 0 ||
        ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      throw std::runtime_error("DyingProxy: cannot listen");
    }
    port_ = ntohs(address.sin_port);
    acceptThread_ = std::thread([this] { acceptLoop(); });
  }
  ~DyingProxy() {
    {
      std::lock_guard guard(mu_);
      onDeath_ = nullptr;
    }
    die();
    acceptThread_.join();
    for (auto& thread : threads_) thread.join();
    ::close(listenFd_);
  }

  void dieAfter(Direction direction, uint64_t bytes, std::function<void()> onDeath) {
    std::lock_guard guard(mu_);
    direction_ = direction;
    budget_ = bytes;
    onDeath_ = std::move(onDeath);
  }
  std::string url(const std::string& target) const {
    return "http://127.0.0.1:" + std::to_string(port_) + target;
  }
  bool dead() const {
    std::lock_guard guard(mu_);
    return dead_;
  }

 private:
  void acceptLoop() {
    for (;;) {
      int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
      std::lock_guard guard(mu_);
      if (dead_) {
        if (fd >= 0) ::close(fd);
        return;
      }
      if (fd < 0) continue;
      int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
      open_.insert(open_.end(), {fd, server});
      threads_.emplace_back([this, fd, server] { relay(fd, server); });
    }
  }

  // Passes bytes both ways until either side ends the connection or the proxy dies.
  void relay(int client, int server) {
    sockaddr_in address = loopback(upstream_);
    if (::connect(server, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
      pollfd fds[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
      char buffer[16384];
      for (bool open = true; open;) {
        if (::poll(fds, 2, -1) < 0) {
          open = errno == EINTR;
          continue;
        }
        for (int i = 0; i < 2 && open; ++i) {
          if (fds[i].revents == 0) continue;
          ssize_t n = ::recv(fds[i].fd, buffer, sizeof buffer, 0);
          open = n > 0 && pass(fds[1 - i].fd, i == 0 ? Direction::toServer : Direction::toClient,
                               std::string_view(buffer, static_cast<size_t>(n)));
        }
      }
    }
    std::lock_guard guard(mu_);
    std::erase_if(open_, [&](int fd) { return fd == client || fd == server; });
    ::close(client);
    ::close(server);
  }

  // Sends bytes on as far as the budget lets them go; false when the connection or the proxy ended.
  bool pass(int fd, Direction direction, std::string_view bytes) {
    bool dies = false;
    {
      std::lock_guard guard(mu_);
      if (dead_) return false;
      if (budget_ && direction_ == direction) {
        bytes = bytes.substr(0, static_cast<size_t>(std::min<uint64_t>(bytes.size(), *budget_)));
        *budget_ -= bytes.size();
        dies = *budget_ == 0;
      }
    }
    bool sent = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
    if (dies) die();
    return sent && !dies;
  }

  // Stops listening, runs onDeath, ends every connection. Idempotent.
  void die() {
    std::function<void()> onDeath;
    {
      std::lock_guard guard(mu_);
      if (std::exchange(dead_, true)) return;
      onDeath = std::move(onDeath_);
    }
    ::shutdown(listenFd_, SHUT_RDWR);  // refuses connections from here on, and wakes the accept loop
    if (onDeath) onDeath();
    std::lock_guard guard(mu_);
    for (int fd : open_) ::shutdown(fd, SHUT_RDWR);
  }

  const int upstream_;
  int listenFd_ = -1;
  int port_ = 0;
  std::thread acceptThread_;
  mutable std::mutex mu_;  // guards what follows
  Direction direction_ = Direction::toClient;
  std::optional<uint64_t> budget_;  // bytes still passed in direction_ before the death
  std::function<void()> onDeath_;
  bool dead_ = false;
  std::vector<int> open_;  // both ends of every relayed connection
  std::vector<std::thread> threads_;
};

// A real server serving a root that holds big.bin and folder/ with kFolderFiles files; each case reaches it
// through a DyingProxy, as the server would if killed. The server then "comes back" on its own port: the host
// application publishes that URL either at the moment of the death (so the request that was cut re-resolves
// and succeeds) or only after the request has failed (so the next one does). The servers do not differ in
// this: one stands for all.
class ServerKilledTest : public ::testing::Test {
 protected:
  void SetUp() override {
    host_.placeOnServer("big.bin", big_);
    for (int i = 0; i < kFolderFiles; ++i) host_.placeOnServer("folder/f" + std::to_string(i), "x");
    host_.serve(ServerKind::apache);
  }

  // What one case does through the drive, and what it checks afterwards.
  struct Case {
    std::string what;
    Direction direction;
    uint64_t cutAfter;
    // Runs the request; returns its error. The drive has listed the root already.
    std::function<std::optional<platform::Error>(TestDrive&)> request;
    // Checks what the request left, after a failure (false) or a success (true).
    std::function<void(TestDrive&, bool succeeded)> check;
  };

  void run(const Case& c) {
    for (bool republishedAtDeath : {true, false}) {
      SCOPED_TRACE(c.what + (republishedAtDeath ? ", published again at once" : ", published again later"));
      fs::remove(root_ + "/new.bin");
      DyingProxy proxy(host_.server().port());
      TestDrive drive(proxy.url("/dav/"), TestDrive::quickTimings());
      ASSERT_FALSE(drive.enumerate(kRootContainerItemIdentifier)->error());
      const std::string stateBefore = readFile(drive.state().file());
      std::function<void()> comeBack;
      if (republishedAtDeath) comeBack = [&] { drive.publish(host_.server().baseUrl()); };
      proxy.dieAfter(c.direction, c.cutAfter, comeBack);

      auto error = c.request(drive);
      ASSERT_TRUE(proxy.dead()) << "the request ended before the cut";
      if (!republishedAtDeath) {
        expectError(error, kFileProviderErrorDomain, platform::fp::kServerUnreachable);
        EXPECT_EQ(readFile(drive.state().file()), stateBefore) << "the state changed for a failed request";
        c.check(drive, false);
        drive.publish(host_.server().baseUrl());
        error = c.request(drive);
      }
      EXPECT_FALSE(error) << error->what() << "\n" << host_.server().log();
      c.check(drive, true);
    }
  }

  HostDrive host_;  // the served folder and its server
  const std::string root_ = host_.served();
  const std::string big_ = patterned(kFileBytes, 1);
};

TEST_F(ServerKilledTest, ARequestCutShortFailsWholeAndSucceedsWhenRepeated) {
  std::optional<std::string> file;
  const Case cases[] = {
      {"download", Direction::toClient, 256 * 1024,
       [&](TestDrive& drive) {
         auto fetched = drive.fetch(drive.state().id("/big.bin"));
         file = fetched.file;
         return fetched.error;
       },
       [&](TestDrive& drive, bool succeeded) {
         EXPECT_EQ(file.has_value(), succeeded);
         if (file) {
           EXPECT_TRUE(readFile(*file) == big_) << "the file delivered is not the whole contents";
           fs::remove(*file);
         }
         EXPECT_TRUE(fs::is_empty(drive.env().temporaryDirectory())) << "a partial download stays";
       }},
      {"upload of a new file", Direction::toServer, 256 * 1024,
       [&](TestDrive& drive) {
         return drive.create(TemplateItem::file("new.bin"), drive.contents(big_)).error;
       },
       [&](TestDrive& drive, bool succeeded) {
         EXPECT_EQ(drive.state().existingId("/new.bin").has_value(), succeeded);
         if (succeeded || fs::exists(root_ + "/new.bin")) {
           EXPECT_TRUE(readFile(root_ + "/new.bin") == big_) << "the server holds a cut copy";
         }
       }},
      {"listing", Direction::toClient, 4 * 1024,
       [&](TestDrive& drive) { return drive.enumerate(drive.state().id("/folder"))->error(); },
       [&](TestDrive& drive, bool succeeded) {
         // A listing cut short is no listing: the folder is remembered only from a whole one.
         auto known = drive.state().knownFolders();
         ASSERT_EQ(known.contains("/folder"), succeeded);
         if (succeeded) {
           EXPECT_EQ(known.at("/folder").size(), static_cast<size_t>(kFolderFiles));
         }
       }},
  };
  for (const auto& c : cases) run(c);
}

// The disk fills while the state is saved: the write fails half way (the file size limit stands for a full
// disk: the same error at the same place), the request that caused it still succeeds, the state in memory
// keeps every change, the file on disk is the last one saved whole and still loads, no piece of the failed
// write stays, and the next save that succeeds writes everything.
TEST(DiskFullTest, AFailedSaveLosesNothingAndLeavesAWholeFile) {
  FakeServer server;
  ServedTree tree{server};
  tree.folder("/other");
  for (int i = 0; i < 500; ++i) tree.file("/big/file-with-a-long-name-" + std::to_string(i));
  TestDrive drive(server.url("/dav/"), TestDrive::quickTimings());
  ASSERT_EQ(drive.enumerate(kRootContainerItemIdentifier)->items().size(), 2u);
  const std::string file = drive.state().file();
  const std::string saved = readFile(file);

  // The disk is full: no file may grow past what the state file holds now.
  ::signal(SIGXFSZ, SIG_IGN);
  rlimit unlimited{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &unlimited), 0);
  rlimit full = unlimited;
  full.rlim_cur = saved.size() + 100;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &full), 0);
  auto big = drive.enumerate(drive.state().id("/big"));
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &unlimited), 0);

  ASSERT_EQ(big->items().size(), 500u);
  EXPECT_EQ(readFile(file), saved) << "the file on disk changed although its write failed";
  for (const auto& entry : fs::directory_iterator(fs::path(file).parent_path())) {
    EXPECT_EQ(entry.path(), file) << "a piece stays";
  }
  EXPECT_TRUE(drive.state().knownFolders().contains("/big"));

  // Room again: the next change writes all of it.
  ASSERT_FALSE(drive.enumerate(drive.state().id("/other"))->error());
  auto disk = decodeState(readFile(file));
  ASSERT_TRUE(disk.has_value());
  for (const auto& item : big->items()) {
    EXPECT_EQ(disk->ids[item->itemIdentifier()], "/big/" + item->filename());
  }
  EXPECT_EQ(disk->listed.at("/big").size(), 500u);
}

}  // namespace
}  // namespace davfp::testing
