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
#include "platform/file_provider.h"
#include "platform/mime_registry.h"
#include "provider/extension.h"

namespace {

using namespace davfp;
using platform::ItemIdentifier;
using platform::ItemRef;

// What the loop knows of an item: from the latest enumeration that reported it.
struct Known {
  bool folder = false;
  std::string name;
  ItemIdentifier parent;
  std::string version;
};

struct Template : platform::ItemProtocol {
  ItemIdentifier id, parent;
  std::string name;
  bool folder = false;
  ItemIdentifier itemIdentifier() const override { return id; }
  ItemIdentifier parentItemIdentifier() const override { return parent; }
  std::string filename() const override { return name; }
  std::optional<std::string> contentType() const override {
    return folder ? std::string(platform::kFolderType) : std::string("text/plain");
  }
};

class Loop {
 public:
  Loop(std::shared_ptr<FileProviderExtension> ext, unsigned seed) : ext_(ext), client_(ext), rng_(seed) {}

  // One request; false when its completion does not come.
  bool step() {
    switch (pick(8)) {
      case 0:
      case 1:
        return enumerate(randomFolder());
      case 2:
        return changes();
      case 3:
        return create(true);
      case 4:
        return create(false);
      case 5:
        return move();
      case 6:
        return replace();
      default:
        return remove();
    }
  }

 private:
  size_t pick(size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(rng_); }

  ItemIdentifier randomFolder() {
    std::vector<ItemIdentifier> folders{platform::kRootContainerItemIdentifier};
    for (const auto& [id, item] : known_) {
      // Folders one level below the root at most, so that the tree stays small.
      if (item.folder && item.parent == platform::kRootContainerItemIdentifier) folders.push_back(id);
    }
    return folders[pick(folders.size())];
  }

  std::optional<ItemIdentifier> randomItem(bool filesOnly) {
    std::vector<ItemIdentifier> ids;
    for (const auto& [id, item] : known_) {
      if (!filesOnly || !item.folder) ids.push_back(id);
    }
    if (ids.empty()) return std::nullopt;
    return ids[pick(ids.size())];
  }

  void learn(const ItemRef& item) {
    if (!item) return;
    known_[item->itemIdentifier()] = Known{item->contentType() == platform::kFolderType, item->filename(),
                                           item->parentItemIdentifier(), item->itemVersion().contentVersion};
  }

  static constexpr std::chrono::seconds kPatience{30};

  bool enumerate(const ItemIdentifier& folder) {
    auto observer = std::make_shared<client::Enumeration>();
    ext_->enumerator(folder, {})->enumerateItems(observer, platform::kInitialPageSortedByName);
    if (!observer->waitFor(kPatience)) return false;
    auto record = observer->record();
    if (!record.error) {
      for (const auto& item : record.items) learn(item);
    } else {
      known_.erase(folder);
    }
    return true;
  }

  bool changes() {
    auto observer = std::make_shared<client::Enumeration>();
    ext_->enumerator(platform::kWorkingSetContainerItemIdentifier, {})
        ->enumerateChanges(observer, ext_->anchor());
    if (!observer->waitFor(kPatience)) return false;
    for (const auto& change : observer->record().changes) {
      if (change.updated) learn(change.updated);
      if (change.deleted) known_.erase(*change.deleted);
    }
    return true;
  }

  // Waits for a create or modify request and learns the item it returns.
  bool written(const client::Pending<client::PlatformClient::Written>& pending) {
    if (!pending.waitFor(kPatience)) return false;
    try {
      learn(pending.wait().item);
    } catch (const platform::Error&) {
      // A refused request changes nothing the loop knows; the next enumeration tells.
    }
    return true;
  }

  std::string contents() {
    std::string file = tmp_ + "/contents-" + std::to_string(pick(1 << 30));
    if (FILE* f = std::fopen(file.c_str(), "w")) {
      std::fputs(std::string(pick(4096), 'x').c_str(), f);
      std::fclose(f);
    }
    return file;
  }

  bool create(bool folder) {
    auto item = std::make_shared<Template>();
    item->parent = randomFolder();
    item->folder = folder;
    item->name = (folder ? "d" : "f") + std::to_string(pick(4));
    std::optional<std::string> file;
    if (!folder) file = contents();
    bool ok = written(client_.startCreate(item, 0, file));
    if (file) std::remove(file->c_str());
    return ok;
  }

  bool move() {
    auto id = randomItem(false);
    if (!id) return enumerate(platform::kRootContainerItemIdentifier);
    const Known& item = known_[*id];
    auto changed = std::make_shared<Template>();
    changed->id = *id;
    changed->folder = item.folder;
    changed->parent = item.folder ? platform::kRootContainerItemIdentifier : randomFolder();
    changed->name = (item.folder ? "d" : "f") + std::to_string(pick(4));
    return written(client_.startModify(
        changed, {}, platform::field::kFilename | platform::field::kParentItemIdentifier, std::nullopt));
  }

  bool replace() {
    auto id = randomItem(true);
    if (!id) return create(false);
    const Known& item = known_[*id];
    auto changed = std::make_shared<Template>();
    changed->id = *id;
    changed->parent = item.parent;
    changed->name = item.name;
    std::string file = contents();
    bool ok = written(client_.startModify(changed, {}, platform::field::kContents, file));
    std::remove(file.c_str());
    return ok;
  }

  bool remove() {
    auto id = randomItem(false);
    if (!id) return create(true);
    std::string version = known_[*id].version;
    auto pending = client_.startRemove(*id, platform::ItemVersion{version, {}}, true);
    if (!pending.waitFor(kPatience)) return false;
    known_.erase(*id);
    return true;
  }

  std::shared_ptr<FileProviderExtension> ext_;
  client::PlatformClient client_;
  std::mt19937 rng_;
  std::map<ItemIdentifier, Known> known_;
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
