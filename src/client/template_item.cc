#include "client/template_item.h"

#include "platform/uuid.h"

namespace davfp::client {

TemplateItem::Properties TemplateItem::forNewItem(platform::ItemIdentifier parent, std::string filename,
                                                  std::optional<std::string> contentType) {
  Properties p;
  p.identifier = platform::uuidString();
  p.parent = std::move(parent);
  p.filename = std::move(filename);
  p.contentType = std::move(contentType);
  p.version = {platform::kBeforeFirstSyncComponent, platform::kBeforeFirstSyncComponent};
  return p;
}

TemplateItem::Properties TemplateItem::copyOf(const platform::ItemProtocol& item) {
  return Properties{.identifier = item.itemIdentifier(),
                    .parent = item.parentItemIdentifier(),
                    .filename = item.filename(),
                    .contentType = item.contentType(),
                    .documentSize = item.documentSize(),
                    .contentModificationDate = item.contentModificationDate(),
                    .creationDate = item.creationDate(),
                    .version = item.itemVersion(),
                    .capabilities = item.capabilities()};
}

}  // namespace davfp::client
