// A process that plays the platform for one domain and sends write-back requests in a loop, one at a time,
// until it is killed (or has sent the number of requests given): enumerations, change passes, folder and file
// creations, renames and moves, replacements and deletions, on a small set of names so that they collide.
// The killed-process test starts it again and again and kills it at random moments; the drive and the state
// live where the environment says (XDG_DATA_HOME, XDG_STATE_HOME, TMPDIR), as for the real extension.
//
// Usage: reliability_writeback_loop DOMAIN SEED [REQUESTS]. Exits 0 after REQUESTS requests, 1 when a request
// never completes.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "client/enumeration.h"
#include "client/platform_client.h"
#include "platform/env.h"
#include "platform/file_provider.h"
#include "platform/mime_registry.h"
#include "provider/extension.h"
#include "support/test_drive.h"

namespace {

using namespace davfp;
using davfp::testing::TemplateItem;
using platform::ItemIdentifier;
using platform::ItemRef;

constexpr std::chrono::seconds kPatience{30};

class Loop {
 public:
  Loop(std::shared_ptr<FileProviderExtension> ext, unsigned seed) : ext_(ext), client_(ext), rng_(seed) {}

  // One request; false when its completion does not come.
  bool step() {
    switch (pick(7)) {
      case 0:
        return enumerate(randomFolder(), false);
      case 1:
        return enumerate(platform::kWorkingSetContainerItemIdentifier, true);
      case 2:
      case 3:
        return create(pick(2) == 0);
      case 4:
        return modify(false);
      case 5:
        return modify(true);
      default:
        return remove();
    }
  }

 private:
  size_t pick(size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(rng_); }

  // The root or a folder one level below it, so that the tree stays small.
  ItemIdentifier randomFolder() {
    std::vector<ItemIdentifier> folders{platform::kRootContainerItemIdentifier};
    for (const auto& [id, item] : known_) {
      if (isFolder(item) && item->parentItemIdentifier() == platform::kRootContainerItemIdentifier) {
        folders.push_back(id);
      }
    }
    return folders[pick(folders.size())];
  }

  std::optional<ItemIdentifier> randomItem(bool filesOnly) {
    std::vector<ItemIdentifier> ids;
    for (const auto& [id, item] : known_) {
      if (!filesOnly || !isFolder(item)) ids.push_back(id);
    }
    if (ids.empty()) return std::nullopt;
    return ids[pick(ids.size())];
  }

  static bool isFolder(const ItemRef& item) { return item->contentType() == platform::kFolderType; }
  void learn(const ItemRef& item) {
    if (item) known_[item->itemIdentifier()] = item;
  }

  // A folder's listing, or (changes) a change pass.
  bool enumerate(const ItemIdentifier& folder, bool changes) {
    auto observer = std::make_shared<client::Enumeration>();
    auto enumerator = ext_->enumerator(folder, {});
    if (changes) {
      enumerator->enumerateChanges(observer, ext_->anchor());
    } else {
      enumerator->enumerateItems(observer, platform::kInitialPageSortedByName);
    }
    if (!observer->waitFor(kPatience)) return false;
    auto record = observer->record();
    if (record.error && !changes) known_.erase(folder);
    for (const auto& item : record.items) learn(item);
    for (const auto& change : record.changes) {
      learn(change.updated);
      if (change.deleted) known_.erase(*change.deleted);
    }
    return true;
  }

  // Sends a create or modify request, with new contents for a file unless it is a move, and learns the item
  // it returns.
  bool write(const TemplateItem& item, std::optional<platform::ItemFields> modified) {
    std::optional<std::string> file;
    if (item.type != platform::kFolderType && modified != kMoved) {
      file = tmp_ + "/contents-" + std::to_string(pick(1 << 30));
      platform::Env::standard().writeFileAtomically(*file, std::string(pick(4096), 'x'));
    }
    auto shared = std::make_shared<TemplateItem>(item);
    auto pending =
        modified ? client_.startModify(shared, {}, *modified, file) : client_.startCreate(shared, 0, file);
    bool answered = pending.waitFor(kPatience);
    if (answered) {
      try {
        learn(pending.wait().item);
      } catch (const platform::Error&) {
        // A refused request changes nothing the loop knows; the next enumeration tells.
      }
    }
    if (file) std::remove(file->c_str());
    return answered;
  }

  bool create(bool folder) {
    std::string name = (folder ? "d" : "f") + std::to_string(pick(4));
    return write(folder ? TemplateItem::folder(name, randomFolder()) : TemplateItem::file(name, randomFolder()),
                 std::nullopt);
  }

  // A rename and move (folders stay at the root), or a file's new contents.
  bool modify(bool move) {
    auto id = randomItem(!move);
    if (!id) return create(false);
    const ItemRef item = known_[*id];
    const bool folder = isFolder(item);
    auto parent =
        !move ? item->parentItemIdentifier() : folder ? platform::kRootContainerItemIdentifier : randomFolder();
    auto name = !move ? item->filename() : (folder ? "d" : "f") + std::to_string(pick(4));
    return write(folder ? TemplateItem::folder(name, parent, *id) : TemplateItem::file(name, parent, *id),
                 move ? kMoved : platform::field::kContents);
  }

  bool remove() {
    auto id = randomItem(false);
    if (!id) return create(true);
    auto pending = client_.startRemove(*id, known_[*id]->itemVersion(), true);
    known_.erase(*id);
    return pending.waitFor(kPatience);
  }

  static constexpr platform::ItemFields kMoved = platform::field::kFilename | platform::field::kParentItemIdentifier;
  std::shared_ptr<FileProviderExtension> ext_;
  client::PlatformClient client_;
  std::mt19937 rng_;
  std::map<ItemIdentifier, ItemRef> known_;  // what the latest enumeration or answer reported of each item
  const std::string tmp_ = platform::Env::standard().temporaryDirectory();
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s DOMAIN SEED [REQUESTS]\n", argv[0]);
    return 2;
  }
  long requests = argc > 3 ? std::atol(argv[3]) : -1;
  auto ext = FileProviderExtension::create(platform::Domain{argv[1], "Killed drive"});
  Loop loop(ext, static_cast<unsigned>(std::strtoul(argv[2], nullptr, 10)));
  for (long i = 0; requests < 0 || i < requests; ++i) {
    if (!loop.step()) {
      std::fprintf(stderr, "request %ld: no completion\n", i);
      return 1;
    }
  }
  return 0;
}
