#include "host/path_resolver.h"

#include <cerrno>

#include "host/failure.h"
#include "platform/mime_registry.h"
#include "platform/text.h"

namespace davfp::cli {

using platform::ItemRef;

bool isFolder(const platform::ItemProtocol& item) { return item.contentType() == platform::kFolderType; }

namespace {

Failure noSuchItem(const DrivePath& path) {
  return Failure{
      path.text(), platform::Error(platform::kFileProviderErrorDomain, platform::fp::kNoSuchItem), {}};
}

}  // namespace

ItemRef PathResolver::root() {
  if (!root_) {
    root_ = platform_.item(platform::kRootContainerItemIdentifier);
    learn(*root_);
  }
  return root_;
}

ItemRef PathResolver::childNamed(const ItemRef& folder, const std::string& name) {
  ItemRef equivalent;
  for (const auto& child : children(folder)) {
    std::string childName = child->filename();
    if (childName == name) return child;
    if (!equivalent && platform::canonicalEqual(childName, name)) equivalent = child;
  }
  return equivalent;
}

ItemRef PathResolver::resolve(const DrivePath& path) {
  ItemRef item = find(path);
  if (!item) throw noSuchItem(path);
  return item;
}

ItemRef PathResolver::find(const DrivePath& path) {
  DrivePath walked;
  try {
    return walk(path, walked);
  } catch (const platform::Error& e) {
    throw Failure{walked.text(), e, {}};
  }
}

ItemRef PathResolver::walk(const DrivePath& path, DrivePath& walked) {
  ItemRef current = root();
  for (const auto& name : path.names()) {
    if (!isFolder(*current)) throw localFailure(walked.text(), ENOTDIR);
    walked = walked.child(name);
    ItemRef next = childNamed(current, name);
    if (!next) {
      if (walked.names().size() == path.names().size()) return nullptr;
      throw noSuchItem(walked);
    }
    current = std::move(next);
  }
  return current;
}

const std::vector<ItemRef>& PathResolver::children(const ItemRef& folder) {
  auto id = folder->itemIdentifier();
  auto it = listings_.find(id);
  if (it != listings_.end()) return it->second;
  learn(*folder);
  auto items = platform_.enumerate(id);
  for (const auto& item : items) learn(*item);
  return listings_.emplace(id, std::move(items)).first->second;
}

void PathResolver::forgetChildren(const platform::ItemIdentifier& folder) { listings_.erase(folder); }

void PathResolver::learn(const platform::ItemProtocol& item) {
  places_[item.itemIdentifier()] = Place{item.parentItemIdentifier(), item.filename()};
}

void PathResolver::unlearn(const platform::ItemIdentifier& identifier) { places_.erase(identifier); }

std::optional<std::string> PathResolver::pathOf(const platform::ItemIdentifier& identifier) const {
  std::string path;
  platform::ItemIdentifier id = identifier;
  // Bounded: a cycle in what the extension reported must not hang the program.
  for (size_t depth = 0; depth <= places_.size(); ++depth) {
    if (id == platform::kRootContainerItemIdentifier) return path.empty() ? "/" : path;
    auto it = places_.find(id);
    if (it == places_.end()) return std::nullopt;
    path = "/" + it->second.name + path;
    id = it->second.parent;
  }
  return std::nullopt;
}

}  // namespace davfp::cli
