#include "provider/item.h"

#include "platform/mime_registry.h"
#include "state/paths.h"

namespace davfp {

std::string pathExtension(std::string_view name) {
  auto dot = name.rfind('.');
  if (dot == std::string_view::npos || dot == 0 || dot + 1 == name.size()) return {};
  std::string_view ext = name.substr(dot + 1);
  if (ext.find(' ') != std::string_view::npos) return {};
  return std::string(ext);
}

Item::Item(const DavEntry& entry, State& state, std::string_view domainName, platform::Env& env)
    : Item(entry, state.id(entry.path),
           std::make_shared<const platform::ItemIdentifier>(state.id(parentPath(entry.path))), domainName, env) {}

Item::Item(DavEntry entry, platform::ItemIdentifier identifier, std::shared_ptr<const platform::ItemIdentifier> parent,
           std::string_view domainName, platform::Env& env)
    : identifier_(std::move(identifier)),
      parent_(std::move(parent)),
      modified_(entry.modified),
      version_(entry.version()) {
  if (entry.path == "/") rootName_ = std::string(domainName);
  if (entry.isDir) {
    contentType_ = platform::kFolderType;
  } else {
    std::string ext = pathExtension(entry.name());
    std::optional<std::string> type;
    if (!ext.empty()) type = env.typeForFilenameExtension(ext);
    contentType_ = type ? *type : std::string(platform::kDataType);
    documentSize_ = entry.size;
  }
  path_ = std::move(entry.path);
}

std::string Item::filename() const {
  if (path_ == "/") return rootName_;
  // The last component, as DavEntry::name() gives it.
  std::string_view p = path_;
  while (!p.empty() && p.back() == '/') p.remove_suffix(1);
  size_t slash = p.rfind('/');
  return std::string(slash == std::string_view::npos ? p : p.substr(slash + 1));
}

}  // namespace davfp
