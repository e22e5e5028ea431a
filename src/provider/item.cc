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
    : Item(entry, state.id(entry.path), state.id(parentPath(entry.path)), domainName, env) {}

Item::Item(const DavEntry& entry, platform::ItemIdentifier identifier, platform::ItemIdentifier parent,
           std::string_view domainName, platform::Env& env)
    : path_(entry.path),
      identifier_(std::move(identifier)),
      parent_(std::move(parent)),
      filename_(entry.path == "/" ? std::string(domainName) : entry.name()),
      modified_(entry.modified) {
  if (entry.isDir) {
    contentType_ = platform::kFolderType;
  } else {
    std::string ext = pathExtension(filename_);
    std::optional<std::string> type;
    if (!ext.empty()) type = env.typeForFilenameExtension(ext);
    contentType_ = type ? *type : std::string(platform::kDataType);
    documentSize_ = entry.size;
  }
  std::string v = entry.version();
  version_ = platform::ItemVersion{v, v + "|" + entry.path};
}

}  // namespace davfp
