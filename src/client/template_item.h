// TemplateItem: an item as the platform describes it to the extension, for a new item (createItem's template)
// or a changed one (modifyItem's item). Properties the platform leaves unanswered stay empty, as they may for
// platform items. Immutable once built; safe to share across threads.
#pragma once

#include <optional>
#include <string>

#include "platform/file_provider.h"

namespace davfp::client {

class TemplateItem final : public platform::ItemProtocol {
 public:
  struct Properties {
    platform::ItemIdentifier identifier;
    platform::ItemIdentifier parent;
    std::string filename;
    std::optional<std::string> contentType;
    std::optional<int64_t> documentSize;
    std::optional<platform::Date> contentModificationDate;
    std::optional<platform::Date> creationDate;
    platform::ItemVersion version;
    platform::ItemCapabilities capabilities = 0;
  };

  explicit TemplateItem(Properties properties) : p_(std::move(properties)) {}

  // A new item under parent: a fresh identifier of the platform's own, as for an item made locally.
  static Properties forNewItem(platform::ItemIdentifier parent, std::string filename,
                               std::optional<std::string> contentType);
  // Everything the extension reported about an existing item, to be changed before it is sent back.
  static Properties copyOf(const platform::ItemProtocol& item);

  platform::ItemIdentifier itemIdentifier() const override { return p_.identifier; }
  platform::ItemIdentifier parentItemIdentifier() const override { return p_.parent; }
  std::string filename() const override { return p_.filename; }
  std::optional<std::string> contentType() const override { return p_.contentType; }
  std::optional<int64_t> documentSize() const override { return p_.documentSize; }
  std::optional<platform::Date> contentModificationDate() const override {
    return p_.contentModificationDate;
  }
  std::optional<platform::Date> creationDate() const override { return p_.creationDate; }
  platform::ItemVersion itemVersion() const override { return p_.version; }
  platform::ItemCapabilities capabilities() const override { return p_.capabilities; }

 private:
  const Properties p_;
};

}  // namespace davfp::client
