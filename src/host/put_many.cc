// put of several files and of folders: local folders are read one at a time, the drive's folders made
// before anything goes into them (a parent before its child), and the files sent several at once by a
// TransferJob. A file that is there already on the drive is replaced.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <vector>

#include "client/template_item.h"
#include "host/drive_path.h"
#include "host/failure.h"
#include "host/local_files.h"
#include "host/progress_bar.h"
#include "host/transfer_commands.h"
#include "host/transfer_job.h"
#include "platform/mime_registry.h"
#include "platform/mutex.h"

namespace davfp::cli {

using client::TemplateItem;
using platform::ItemRef;

namespace {

// The entries of a local folder in name order; "." and ".." left out.
std::vector<std::string> namesIn(const std::string& dir) {
  DIR* d = ::opendir(dir.c_str());
  if (d == nullptr) throw localFailure(dir, errno);
  std::vector<std::string> names;
  while (dirent* entry = ::readdir(d)) {
    std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(std::move(name));
  }
  ::closedir(d);
  std::sort(names.begin(), names.end());
  return names;
}

std::string joined(const std::string& dir, const std::string& name) {
  return dir.ends_with('/') ? dir + name : dir + "/" + name;
}

// How many files and bytes a copy of these local paths moves: counted before it starts, for the progress bar.
void countFiles(const std::string& path, TransferJob& job) {
  std::error_code error;
  if (!std::filesystem::is_directory(path, error)) {
    job.found(1);
    return;
  }
  for (auto it = std::filesystem::recursive_directory_iterator(
           path, std::filesystem::directory_options::skip_permission_denied, error);
       !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
    if (it->is_regular_file(error)) job.found(1);
  }
}

// The local files being sent, for the progress bar: how far the engine has read each of them.
class SendingFiles {
 public:
  // Counts path as being sent until the returned token goes.
  std::shared_ptr<void> add(const std::string& path) {
    platform::MutexLock lock(mu_);
    paths_.insert(path);
    return std::shared_ptr<void>(nullptr, [this, path](void*) {
      platform::MutexLock lockAgain(mu_);
      paths_.erase(paths_.find(path));
    });
  }
  int64_t bytesRead() const {
    std::multiset<std::string> paths;
    {
      platform::MutexLock lock(mu_);
      paths = paths_;
    }
    int64_t total = 0;
    for (const auto& path : paths) total += readOffsetOf(path);
    return total;
  }

 private:
  mutable platform::Mutex mu_;
  std::multiset<std::string> paths_ GUARDED_BY(mu_);
};

class Upload {
 public:
  Upload(Context& c, TransferJob& job, SendingFiles& sending) : c_(c), job_(job), sending_(sending) {}

  // A local file to path, in folder, replacing existing (a file there by that name) when there is one.
  void file(const std::string& local, const ItemRef& folder, const DrivePath& path, const ItemRef& existing) {
    int64_t size = 0;
    if (!job_.attempt(local, [&] { size = readableFileSize(local); })) return;
    if (existing && isFolder(*existing)) {
      job_.fail(localFailure(path.text(), EISDIR));
      return;
    }
    auto sent = [size, token = sending_.add(local)](const client::PlatformClient::Written&) { return size; };
    job_.attempt(path.text(), [&] {
          if (existing) {
            auto properties = TemplateItem::copyOf(*existing);
            properties.documentSize = size;
            job_.add(path.text(),
                     c_.platform.startModify(std::make_shared<TemplateItem>(std::move(properties)),
                                             existing->itemVersion(), platform::field::kContents, local),
                     sent);
          } else {
            auto properties = TemplateItem::forNewItem(folder->itemIdentifier(), path.name(), std::nullopt);
            properties.documentSize = size;
            job_.add(path.text(),
                     c_.platform.startCreate(std::make_shared<TemplateItem>(std::move(properties)),
                                             platform::field::kFilename | platform::field::kParentItemIdentifier |
                                                 platform::field::kContents,
                                             local),
                     sent);
          }
        });
  }

  // A local folder and everything below it, to path in parent; existing is the drive's folder there, if any.
  void folder(const std::string& topLocal, const ItemRef& topParent, const DrivePath& topPath,
              const ItemRef& topExisting) {
    struct Folder {
      std::string local;
      ItemRef parent;
      DrivePath path;
      ItemRef existing;
    };
    std::vector<Folder> toDo{{topLocal, topParent, topPath, topExisting}};
    while (!toDo.empty() && !job_.interrupted()) {
      Folder f = std::move(toDo.back());
      toDo.pop_back();
      ItemRef here = f.existing;
      std::map<std::string, ItemRef> there;
      std::vector<std::string> names;
      bool ready = job_.attempt(f.path.text(), [&] {
        names = namesIn(f.local);
        if (here && !isFolder(*here)) throw localFailure(f.path.text(), ENOTDIR);
        if (here) {
          for (auto& item : c_.platform.enumerate(here->itemIdentifier())) there[item->filename()] = item;
        } else {
          // Made before anything goes into it; waited for, since its files need its identifier.
          auto properties = TemplateItem::forNewItem(f.parent->itemIdentifier(), f.path.name(),
                                                     std::string(platform::kFolderType));
          here = c_.platform
                     .startCreate(std::make_shared<TemplateItem>(std::move(properties)),
                                  platform::field::kFilename | platform::field::kParentItemIdentifier,
                                  std::nullopt)
                     .wait(c_.interrupt.token())
                     .item;
        }
      });
      if (!ready) continue;
      std::vector<Folder> below;
      for (const auto& name : names) {
        std::string local = joined(f.local, name);
        DrivePath path = f.path.child(name);
        auto found = there.find(name);
        ItemRef existing = found == there.end() ? nullptr : found->second;
        struct stat st, link;
        if (::stat(local.c_str(), &st) != 0 || ::lstat(local.c_str(), &link) != 0) {
          job_.fail(localFailure(local, errno));
        } else if (S_ISDIR(st.st_mode) && S_ISLNK(link.st_mode)) {
          // Followed, a link to a folder could lead into a loop or out of the tree being copied.
          job_.fail(Failure{local, platform::Error(platform::kPOSIXErrorDomain, ELOOP, "is a link to a folder"),
                            "it is not copied; copy the folder it leads to by its own name"});
        } else if (S_ISDIR(st.st_mode)) {
          below.push_back({local, here, path, existing});
        } else {
          file(local, here, path, existing);
        }
      }
      toDo.insert(toDo.end(), std::make_move_iterator(below.rbegin()), std::make_move_iterator(below.rend()));
    }
  }

 private:
  Context& c_;
  TransferJob& job_;
  SendingFiles& sending_;
};

}  // namespace

std::string localName(const std::string& path) {
  std::error_code error;
  auto absolute = std::filesystem::weakly_canonical(std::filesystem::absolute(path, error), error);
  std::string name = absolute.filename().string();
  if (name.empty()) name = absolute.parent_path().filename().string();
  return name;
}

int putMany(Context& c, PathResolver& r) {
  const Options& o = c.options;
  for (const auto& source : o.sources) {
    if (source == "-") throw UsageError("put - reads standard input into one file: put - PATH");
  }
  DrivePath dest = DrivePath::parse(o.path);
  ItemRef target = dest.isRoot() ? r.root() : r.find(dest);
  const bool intoFolder = target && isFolder(*target);
  if (!intoFolder && (o.sources.size() > 1 || o.path.ends_with('/'))) {
    throw Failure{dest.text(),
                  target ? platform::Error(platform::kPOSIXErrorDomain, ENOTDIR, "is a file, not a folder")
                         : platform::Error(platform::kPOSIXErrorDomain, ENOENT, "no such folder on the server"),
                  o.sources.size() > 1 ? "several files go into an existing folder" : ""};
  }
  // Where the sources go: into the folder under their own names, or (one source) to dest itself.
  ItemRef parent = intoFolder ? target : r.resolve(dest.parent());
  SendingFiles sending;
  TransferJob job(c, [&sending] { return sending.bytesRead(); });
  for (const auto& source : o.sources) countFiles(source, job);
  Upload upload(c, job, sending);
  for (const auto& source : o.sources) {
    if (job.interrupted()) break;
    struct stat st;
    if (::stat(source.c_str(), &st) != 0) {
      job.fail(localFailure(source, errno));
      continue;
    }
    DrivePath path = dest;
    ItemRef existing = target;
    if (intoFolder) {
      std::string name = localName(source);
      if (!job.attempt(source, [&] { checkName(name); })) continue;
      path = dest.child(name);
      if (!job.attempt(path.text(), [&] { existing = r.childNamed(target, name); })) continue;
    }
    if (!S_ISDIR(st.st_mode)) {
      upload.file(source, parent, path, existing);
    } else if (!o.recursive) {
      job.fail(Failure{source, platform::Error(platform::kPOSIXErrorDomain, EISDIR, "is a folder"),
                       "use put -r to copy a folder"});
    } else {
      upload.folder(source, parent, path, existing);
    }
    // The next source may go to the same name: it must see what this one made.
    if (intoFolder) r.forgetChildren(target->itemIdentifier());
  }
  return job.finish();
}

}  // namespace davfp::cli
