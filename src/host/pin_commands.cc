#include "host/pin_commands.h"

#include <fcntl.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <thread>
#include <vector>

#include "client/errors.h"
#include "host/failure.h"
#include "host/mounted_path.h"
#include "host/progress_bar.h"
#include "host/visible_text.h"
#include "mount/item_attributes.h"

namespace davfp::cli {

namespace {

namespace fs = std::filesystem;

constexpr int kFetchers = 8;

std::string attribute(const std::string& path, const char* name) {
  char value[64];
  ssize_t n = ::getxattr(path.c_str(), name, value, sizeof value);
  return n < 0 ? std::string() : std::string(value, static_cast<size_t>(n));
}

void setAttribute(const std::string& path, const char* name, const std::string& value) {
  if (::setxattr(path.c_str(), name, value.data(), value.size(), 0) != 0) throw localFailure(path, errno);
}

void complain(const std::string& path, const std::string& why) {
  std::fprintf(stderr, "davfp: %s: %s\n", visible(path).c_str(), visible(why).c_str());
}

// Calls visit with each regular file at or below path (a folder is listed through the mount).
template <class Visit>
void eachFile(const std::string& path, Visit visit) {
  std::error_code ec;
  if (!fs::is_directory(path, ec)) {
    visit(path);
    return;
  }
  fs::recursive_directory_iterator it(path, ec), end;
  for (; !ec && it != end; it.increment(ec)) {
    if (it->is_regular_file(ec)) visit(it->path().string());
  }
  if (ec) throw localFailure(path, ec.value());
}

struct Dataless {
  std::string path;
  int64_t size = 0;
};

// Opens each file and reads from it, which makes the mount fetch it; kFetchers side by side. Returns how many
// failed (each named on stderr).
int fetchAll(const std::vector<Dataless>& files, Interrupt& interrupt) {
  int64_t total = 0;
  for (const auto& f : files) total += f.size;
  std::atomic<size_t> next{0};
  std::atomic<int64_t> done{0};
  std::atomic<int> failed{0};
  {
    ProgressBar bar("fetching " + std::to_string(files.size()) + " files", total,
                    [&] { return done.load(); });
    std::vector<std::jthread> fetchers;
    for (int i = 0; i < kFetchers; ++i) {
      fetchers.emplace_back([&] {
        for (size_t at; !interrupt.interrupted() && (at = next++) < files.size();) {
          const auto& file = files[at];
          int fd = ::open(file.path.c_str(), O_RDONLY | O_CLOEXEC);
          char byte;
          if (fd < 0 || ::read(fd, &byte, 1) < 0) {
            complain(file.path, std::string("not fetched: ") + std::strerror(errno));
            ++failed;
          }
          if (fd >= 0) ::close(fd);
          done += file.size;
        }
      });
    }
  }
  if (interrupt.interrupted()) throw Failure{{}, client::cancelledError(), {}};
  return failed;
}

// Why the mount refused to evict path (EBUSY), as far as its attributes tell.
std::string whyKept(const std::string& path) {
  if (attribute(path, mount::kStateAttribute) == "pending") return "not evicted: it has changes not sent yet";
  if (attribute(path, mount::kPinnedAttribute) == "1")
    return "not evicted: it is pinned (davfp unpin it first)";
  return "not evicted: a program has it open";
}

}  // namespace

int pin(const Options& o, platform::Env& env, Interrupt& interrupt) {
  std::vector<std::string> paths;
  for (const auto& given : o.paths) paths.push_back(mountedPath(given, o.domain, env));
  for (const auto& path : paths) setAttribute(path, mount::kPinnedAttribute, "1");
  if (o.noWait) return 0;
  std::vector<Dataless> files;
  for (const auto& path : paths) {
    eachFile(path, [&](const std::string& file) {
      if (attribute(file, mount::kStateAttribute) != "dataless") return;
      std::error_code ec;
      auto size = fs::file_size(file, ec);
      files.push_back({file, ec ? 0 : static_cast<int64_t>(size)});
    });
  }
  return fetchAll(files, interrupt) == 0 ? 0 : 1;
}

int unpin(const Options& o, platform::Env& env) {
  std::vector<std::string> paths;
  for (const auto& given : o.paths) paths.push_back(mountedPath(given, o.domain, env));
  for (const auto& path : paths) setAttribute(path, mount::kPinnedAttribute, "0");
  return 0;
}

int evict(const Options& o, platform::Env& env) {
  std::vector<std::string> paths;
  for (const auto& given : o.paths) paths.push_back(mountedPath(given, o.domain, env));
  int refused = 0;
  for (const auto& path : paths) {
    eachFile(path, [&](const std::string& file) {
      if (attribute(file, mount::kStateAttribute) == "dataless") return;
      const std::string value = "dataless";
      if (::setxattr(file.c_str(), mount::kStateAttribute, value.data(), value.size(), 0) == 0) return;
      complain(file, errno == EBUSY ? whyKept(file) : std::string("not evicted: ") + std::strerror(errno));
      ++refused;
    });
  }
  return refused == 0 ? 0 : 1;
}

}  // namespace davfp::cli
