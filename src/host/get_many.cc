// get of several files and of folders: every folder of the drive is listed in turn (only one listing is held
// at a time, so that a large tree takes little memory), local folders made before their files, and the files
// fetched several at once by a TransferJob.
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "host/drive_path.h"
#include "host/failure.h"
#include "host/human_output.h"
#include "host/local_files.h"
#include "host/progress_bar.h"
#include "host/transfer_commands.h"
#include "host/transfer_job.h"

namespace davfp::cli {

using platform::ItemRef;

namespace {

bool isLocalDirectory(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string joined(const std::string& dir, const std::string& name) {
  return dir.ends_with('/') ? dir + name : dir + "/" + name;
}

class Download {
 public:
  Download(Context& c, TransferJob& job) : c_(c), job_(job) {}

  void file(const ItemRef& item, const std::string& subject, const std::string& dest) {
    job_.found(1);
    if (!job_.attempt(dest, [&] { checkWritableDestination(dest); })) return;
    job_.add(subject, c_.platform.startFetch(item->itemIdentifier(), item->itemVersion()),
             [dest](client::PlatformClient::Fetched fetched) {
               placeFile(fetched.file, dest);
               keepModificationDate(dest, fetched.item->contentModificationDate());
               return fetched.item->documentSize().value_or(0);
             });
  }

  // The folder and everything below it, depth first in name order.
  void folder(const ItemRef& top, const DrivePath& topPath, const std::string& topDest) {
    struct Folder {
      platform::ItemIdentifier id;
      DrivePath path;
      std::string dest;
      std::optional<platform::Date> modified;
    };
    std::vector<Folder> toDo{{top->itemIdentifier(), topPath, topDest, top->contentModificationDate()}};
    while (!toDo.empty() && !job_.interrupted()) {
      Folder folder = std::move(toDo.back());
      toDo.pop_back();
      std::vector<ItemRef> items;
      bool listed = job_.attempt(folder.dest, [&] { makeLocalFolder(folder.dest); }) &&
                    job_.attempt(folder.path.text(), [&] { items = c_.platform.enumerate(folder.id); });
      if (!listed) continue;
      folders_.emplace_back(folder.dest, folder.modified);
      items = sortedByName(std::move(items));
      std::vector<Folder> below;
      for (const auto& item : items) {
        DrivePath path = folder.path.child(item->filename());
        // A name from the server becomes a local path only when it is one name: never "..", never "a/b".
        if (!job_.attempt(path.text(), [&] { checkName(item->filename()); })) continue;
        std::string dest = joined(folder.dest, item->filename());
        if (isFolder(*item)) {
          below.push_back({item->itemIdentifier(), path, dest, item->contentModificationDate()});
        } else {
          file(item, path.text(), dest);
        }
      }
      toDo.insert(toDo.end(), std::make_move_iterator(below.rbegin()), std::make_move_iterator(below.rend()));
    }
  }

  // The folders take the server's dates once their files are in, the deepest first.
  void dateFolders() {
    for (auto it = folders_.rbegin(); it != folders_.rend(); ++it) keepModificationDate(it->first, it->second);
  }

 private:
  Context& c_;
  TransferJob& job_;
  std::vector<std::pair<std::string, std::optional<platform::Date>>> folders_;
};

}  // namespace

int getMany(Context& c, PathResolver& r) {
  const Options& o = c.options;
  const std::string local = o.local.empty() ? "." : o.local;
  if (local == kStandardOutput) throw UsageError("get to - writes one file; cat writes several");
  const bool intoFolder = isLocalDirectory(local);
  if (o.sources.size() > 1 && !intoFolder) {
    throw Failure{local, platform::Error(platform::kPOSIXErrorDomain, ENOTDIR, "is not a folder"),
                  "several items go into an existing folder"};
  }
  std::string dir = prepareDownload(c.env);
  TransferJob job(c, [dir] { return bytesInDirectory(dir); });
  Download download(c, job);
  for (const auto& source : o.sources) {
    if (job.interrupted()) break;
    DrivePath path;
    ItemRef item;
    if (!job.attempt(source, [&] {
          path = DrivePath::parse(source);
          item = r.resolve(path);
        })) {
      continue;
    }
    // The root has no name of its own: its contents go into the destination.
    std::string dest = intoFolder && !path.isRoot() ? joined(local, item->filename()) : local;
    if (!isFolder(*item)) {
      download.file(item, path.text(), dest);
    } else if (!o.recursive) {
      job.fail(Failure{path.text(), platform::Error(platform::kPOSIXErrorDomain, EISDIR, "is a folder"),
                       "use get -r to copy a folder"});
    } else {
      download.folder(item, path, dest);
    }
  }
  int status = job.finish();
  download.dateFolders();
  return status;
}

}  // namespace davfp::cli
