// TemplateItem: an item as the platform describes it to the extension (a new item's template, or the changed
// item of a modification), with the properties a test sets. Immutable once handed over.
#pragma once

#include <optional>
#include <string>

#include "platform/file_provider.h"
#include "platform/mime_registry.h"

namespace davfp::testing {

struct TemplateItem : platform::ItemProtocol {
  platform::ItemIdentifier id;
  platform::ItemIdentifier parent = platform::kRootContainerItemIdentifier;
  std::string name;
  std::optional<std::string> type;  // none: the item does not answer contentType

  static TemplateItem file(std::string name,
                           platform::ItemIdentifier parent = platform::kRootContainerItemIdentifier,
                           platform::ItemIdentifier id = {}) {
    return make(std::move(id), std::move(parent), std::move(name), "text/plain");
  }
  static TemplateItem folder(std::string name,
                             platform::ItemIdentifier parent = platform::kRootContainerItemIdentifier,
                             platform::ItemIdentifier id = {}) {
    return make(std::move(id), std::move(parent), std::move(name), std::string(platform::kFolderType));
  }
  static TemplateItem make(platform::ItemIdentifier id, platform::ItemIdentifier parent, std::string name,
                           std::optional<std::string> type) {
    TemplateItem item;
    item.id = std::move(id);
    item.parent = std::move(parent);
    item.name = std::move(name);
    item.type = std::move(type);
    return item;
  }

  platform::ItemIdentifier itemIdentifier() const override { return id; }
  platform::ItemIdentifier parentItemIdentifier() const override { return parent; }
  std::string filename() const override { return name; }
  std::optional<std::string> contentType() const override { return type; }
};

}  // namespace davfp::testing
