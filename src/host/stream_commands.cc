// cat, and put from standard input: contents streamed through a file of the private download folder, a
// piece at a time, so that neither holds a file in memory nor has a limit on its size. cat writes a file out
// while it downloads.
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cerrno>

#include "client/template_item.h"
#include "host/drive_path.h"
#include "host/failure.h"
#include "host/json_output.h"
#include "host/local_files.h"
#include "host/progress_bar.h"
#include "host/transfer_commands.h"
#include "host/visible_text.h"
#include "platform/unique_fd.h"

namespace davfp::cli {

using client::TemplateItem;
using platform::ItemRef;

namespace {

// Copies standard input into a new file at path until its end; false when interrupted first.
bool copyStandardInput(const std::string& path, Interrupt& interrupt, std::atomic<int64_t>& copied) {
  platform::UniqueFd out(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
  if (!out) throw localFailure(path, errno);
  static char buffer[1 << 16];
  for (;;) {
    // Waits in short steps, so that Ctrl-C stops a wait for input that does not come.
    pollfd in{STDIN_FILENO, POLLIN, 0};
    int ready = ::poll(&in, 1, 100);
    if (interrupt.interrupted()) return false;
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) throw localFailure("standard input", errno);
    if (ready == 0) continue;
    ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n < 0) throw localFailure("standard input", errno);
    if (n == 0) break;
    for (ssize_t done = 0; done < n;) {
      ssize_t w = ::write(out.get(), buffer + done, static_cast<size_t>(n - done));
      if (w < 0 && errno == EINTR) continue;
      if (w < 0) throw localFailure(path, errno);
      done += w;
    }
    copied += n;
  }
  if (::close(out.release()) != 0) throw localFailure(path, errno);
  return true;
}

// Writes bytes of in, from offset on, to standard output until none are left; returns the new offset.
int64_t copyOut(int in, int64_t offset) {
  static char buffer[1 << 16];
  for (;;) {
    ssize_t n = ::pread(in, buffer, sizeof buffer, offset);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw localFailure("the download", errno);
    if (n == 0) return offset;
    for (ssize_t done = 0; done < n;) {
      ssize_t w = ::write(STDOUT_FILENO, buffer + done, static_cast<size_t>(n - done));
      if (w < 0 && errno == EINTR) continue;
      if (w < 0) throw localFailure("standard output", errno);
      done += w;
    }
    offset += n;
  }
}

// True when the first length bytes of two files are the same.
bool samePrefix(int a, int b, int64_t length) {
  std::string x(1 << 16, '\0'), y(1 << 16, '\0');
  for (int64_t at = 0; at < length;) {
    size_t want = static_cast<size_t>(std::min<int64_t>(length - at, static_cast<int64_t>(x.size())));
    if (::pread(a, x.data(), want, at) != static_cast<ssize_t>(want)) return false;
    if (::pread(b, y.data(), want, at) != static_cast<ssize_t>(want)) return false;
    if (x.compare(0, want, y, 0, want) != 0) return false;
    at += static_cast<int64_t>(want);
  }
  return true;
}

// The one download growing in the private folder (cat fetches one file at a time), opened; none yet when it
// has not begun.
platform::UniqueFd openGrowingDownload(const std::string& dir) {
  DIR* d = ::opendir(dir.c_str());
  if (d == nullptr) return {};
  platform::UniqueFd fd;
  while (dirent* entry = ::readdir(d)) {
    struct stat st;
    if (::fstatat(::dirfd(d), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) continue;
    fd = platform::UniqueFd(::openat(::dirfd(d), entry->d_name, O_RDONLY | O_CLOEXEC));
    break;
  }
  ::closedir(d);
  return fd;
}

// Fetches a file and writes it to standard output as it arrives: the download is followed while it grows.
// Should the engine begin the download again in a new file, what was written already must be what the new
// file begins with; otherwise the output would be wrong, and this fails instead.
void streamFile(Context& c, const ItemRef& item, const DrivePath& path, const std::string& dir) {
  auto pending = c.platform.startFetch(item->itemIdentifier(), item->itemVersion());
  platform::UniqueFd followed;
  int64_t written = 0;
  {
    std::atomic<int64_t> shown = 0;
    ProgressBar bar(item->filename(), item->documentSize(), [&shown] { return shown.load(); });
    while (!pending.waitFor(std::chrono::milliseconds(50)) && !c.interrupt.interrupted()) {
      if (!followed) followed = openGrowingDownload(dir);
      if (followed) shown = written = copyOut(followed.get(), written);
    }
  }
  client::PlatformClient::Fetched fetched = about(path.text(), [&] { return pending.wait(c.interrupt.token()); });
  platform::UniqueFd done(::open(fetched.file.c_str(), O_RDONLY | O_CLOEXEC));
  if (!done) throw localFailure(fetched.file, errno);
  ::unlink(fetched.file.c_str());
  struct stat a, b;
  bool same = followed && ::fstat(followed.get(), &a) == 0 && ::fstat(done.get(), &b) == 0 &&
              a.st_dev == b.st_dev && a.st_ino == b.st_ino;
  if (written > 0 && !same && !samePrefix(followed.get(), done.get(), written)) {
    throw Failure{path.text(),
                  platform::Error(platform::kPOSIXErrorDomain, EIO,
                                  "changed while it was written out; the output is incomplete"),
                  {}};
  }
  copyOut(done.get(), written);
}

}  // namespace

int putStandardInput(Context& c, PathResolver& r) {
  const Options& o = c.options;
  if (o.sources.size() != 1) throw UsageError("put - reads standard input into one file: put - PATH");
  DrivePath path = DrivePath::parse(o.path);
  // Checked before anything is read: standard input can be read only once.
  ItemRef target = path.isRoot() ? r.root() : r.find(path);
  if (o.path.ends_with('/') || (target && isFolder(*target))) {
    throw UsageError("put - needs the new file's name, not a folder: put - " +
                     (path.isRoot() ? std::string() : path.text()) + "/NAME");
  }
  ItemRef folder = r.resolve(path.parent());
  const std::string file = prepareDownload(c.env) + "/standard-input";
  std::atomic<int64_t> copied = 0;
  {
    ProgressBar bar("standard input", std::nullopt, [&copied] { return copied.load(); });
    if (!copyStandardInput(file, c.interrupt, copied)) return kInterruptedStatus;
  }
  const int64_t size = copied.load();
  ItemRef result;
  ProgressBar bar(path.name(), size, [file] { return readOffsetOf(file); });
  if (target) {
    auto properties = TemplateItem::copyOf(*target);
    properties.documentSize = size;
    result = about(path.text(), [&] {
      return c.platform
          .modify(std::make_shared<TemplateItem>(std::move(properties)), target->itemVersion(),
                  platform::field::kContents, file)
          .item;
    });
  } else {
    auto properties = TemplateItem::forNewItem(folder->itemIdentifier(), path.name(), std::nullopt);
    properties.documentSize = size;
    result = about(path.text(), [&] {
      return c.platform
          .create(std::make_shared<TemplateItem>(std::move(properties)),
                  platform::field::kFilename | platform::field::kParentItemIdentifier | platform::field::kContents,
                  file)
          .item;
    });
  }
  if (o.json) emit(jsonLine(itemJson(*result, path.text())));
  return 0;
}

int cat(Context& c, PathResolver& r) {
  int status = 0;
  const std::string dir = prepareDownload(c.env);
  for (const auto& text : c.options.paths) {
    if (c.interrupt.interrupted()) return kInterruptedStatus;
    try {
      DrivePath path = DrivePath::parse(text);
      ItemRef item = r.resolve(path);
      if (isFolder(*item)) {
        throw Failure{path.text(), platform::Error(platform::kPOSIXErrorDomain, EISDIR, "is a folder"), {}};
      }
      streamFile(c, item, path, dir);
    } catch (const Failure& failure) {
      // As cat does, the files after a missing one are still written; the status says one failed.
      if (failure.error.is(platform::kCocoaErrorDomain, platform::cocoa::kUserCancelled) &&
          c.interrupt.interrupted()) {
        return kInterruptedStatus;
      }
      std::fprintf(stderr, "%s\n", visible(humanMessage(failure, c.options.verbose)).c_str());
      status = 1;
    }
  }
  return status;
}

}  // namespace davfp::cli
