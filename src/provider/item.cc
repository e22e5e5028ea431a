#include "provider/item.h"

#include <algorithm>
#include <cstdint>
#include <mutex>
#include <stdexcept>
#include <unordered_set>

#include "platform/mime_registry.h"
#include "platform/server_path.h"

namespace davfp {

namespace {

// The one copy of a content type that every item of that type points to. The registry names a bounded set of
// types, so the set only grows to its size, and it lives as long as the process, like the items it serves.
const std::string* sharedType(std::string type) {
  static std::mutex mu;
  static auto* types = new std::unordered_set<std::string>();  // guarded by mu; never destroyed
  std::lock_guard lock(mu);
  return &*types->insert(std::move(type)).first;
}

}  // namespace

std::string pathExtension(std::string_view name) {
  auto dot = name.rfind('.');
  if (dot == std::string_view::npos || dot == 0 || dot + 1 == name.size()) return {};
  std::string_view ext = name.substr(dot + 1);
  if (ext.find(' ') != std::string_view::npos) return {};
  return std::string(ext);
}

Item::Item(const DavEntry& entry, State& state, std::string_view domainName, platform::Env& env)
    : Item(entry, state.id(entry.path),
           std::make_shared<const platform::ItemIdentifier>(state.id(platform::parentPath(entry.path))),
           domainName, env) {}

Item::Item(DavEntry entry, platform::ItemIdentifier identifier,
           std::shared_ptr<const platform::ItemIdentifier> parent, std::string_view domainName,
           platform::Env& env)
    : parent_(std::move(parent)) {
  const std::string version = entry.version();
  const std::string_view texts[kTexts] = {identifier, entry.path, version,
                                          entry.path == "/" ? domainName : std::string_view()};
  size_t size = 0;
  for (auto t : texts) size += t.size();
  // Texts that long are no paths, names or versions a server sends; the offsets are 32 bits.
  if (size > UINT32_MAX) throw std::length_error("item texts too long");
  text_ = std::make_unique_for_overwrite<char[]>(size);
  start_[0] = 0;
  for (int i = 0; i < kTexts; ++i) {
    std::copy(texts[i].begin(), texts[i].end(), text_.get() + start_[i]);
    start_[i + 1] = start_[i] + static_cast<uint32_t>(texts[i].size());
  }
  if (entry.modified) {
    modified_ = *entry.modified;
    hasModified_ = true;
  }
  if (entry.isDir) {
    static const std::string* const folder = sharedType(std::string(platform::kFolderType));
    contentType_ = folder;
  } else {
    static const std::string* const data = sharedType(std::string(platform::kDataType));
    std::string ext = pathExtension(entry.name());
    std::optional<std::string> type;
    if (!ext.empty()) type = env.typeForFilenameExtension(ext);
    contentType_ = type ? sharedType(std::move(*type)) : data;
    if (entry.size) {
      documentSize_ = *entry.size;
      hasSize_ = true;
    }
  }
}

platform::ItemVersion Item::itemVersion() const {
  std::string_view version = text(Text::version), path = text(Text::path);
  std::string metadata;
  metadata.reserve(version.size() + 1 + path.size());
  metadata.append(version).append(1, '|').append(path);
  return {std::string(version), std::move(metadata)};
}

std::optional<int64_t> Item::documentSize() const {
  if (!hasSize_) return std::nullopt;
  return documentSize_;
}

std::optional<platform::Date> Item::contentModificationDate() const {
  if (!hasModified_) return std::nullopt;
  return modified_;
}

std::string Item::filename() const {
  std::string_view p = text(Text::path);
  if (p == "/") return std::string(text(Text::rootName));
  // The last component, as DavEntry::name() gives it.
  while (!p.empty() && p.back() == '/') p.remove_suffix(1);
  size_t slash = p.rfind('/');
  return std::string(slash == std::string_view::npos ? p : p.substr(slash + 1));
}

}  // namespace davfp
