// cat, and put from standard input: contents streamed through a file of the private download folder, a
// piece at a time, so that neither holds a file in memory nor has a limit on its size.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
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

template <class F>
auto about(const std::string& subject, F request) {
  try {
    return request();
  } catch (const platform::Error& e) {
    throw Failure{subject, e, {}};
  }
}

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
  if (o.json) emit(jsonLine(itemJson(*result)));
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
      client::PlatformClient::Fetched fetched;
      {
        ProgressBar bar(item->filename(), item->documentSize(), [dir] { return bytesInDirectory(dir); });
        fetched = about(path.text(),
                        [&] { return c.platform.fetch(item->itemIdentifier(), item->itemVersion()); });
      }
      writeToStandardOutput(fetched.file);
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
