// Item: the immutable record handed to the platform for one file or folder, built from a DavEntry.
// Building one asks the state for the identifiers of the entry's path and its parent (which may mint them).
// Immutable after construction; safe to share across threads.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "dav/entry.h"
#include "platform/env.h"
#include "platform/file_provider.h"
#include "state/state.h"

namespace davfp {

class Item final : public platform::ItemProtocol {
 public:
  // Reading, writing, reparenting, renaming and deleting; never trashing.
  static constexpr platform::ItemCapabilities kCapabilities =
      platform::capability::kReading | platform::capability::kWriting | platform::capability::kReparenting |
      platform::capability::kRenaming | platform::capability::kDeleting;

  // domainName is shown as the root folder's name; env answers the type registry lookups.
  Item(const DavEntry& entry, State& state, std::string_view domainName, platform::Env& env);
  // The same with the identifiers of the entry and of its parent already known. Items built together share
  // their parent's identifier: a listing of many files holds it once.
  Item(DavEntry entry, platform::ItemIdentifier identifier,
       std::shared_ptr<const platform::ItemIdentifier> parent, std::string_view domainName,
       platform::Env& env);

  platform::ItemIdentifier itemIdentifier() const override { return std::string(text(Text::identifier)); }
  platform::ItemIdentifier parentItemIdentifier() const override { return *parent_; }
  std::string filename() const override;
  std::optional<std::string> contentType() const override { return *contentType_; }
  std::optional<int64_t> documentSize() const override;
  std::optional<platform::Date> contentModificationDate() const override;
  std::optional<platform::Date> creationDate() const override { return contentModificationDate(); }
  // The content version is the entry's version; the metadata version adds the path, so that a rename or a
  // move changes it.
  platform::ItemVersion itemVersion() const override;
  platform::ItemCapabilities capabilities() const override { return kCapabilities; }

  // The server path the item was built from (not part of the platform's protocol).
  std::string_view path() const { return text(Text::path); }

 private:
  // The item's own texts, back to back in text_: its identifier, its path, its version and, for the root
  // only, its shown name (the others' names come from their paths).
  enum class Text { identifier, path, version, rootName };
  static constexpr int kTexts = 4;
  std::string_view text(Text which) const {
    const auto i = static_cast<int>(which);
    return {text_.get() + start_[i], start_[i + 1] - start_[i]};
  }

  // What an item holds is kept small: a listing hands the platform one item per child, all at once. Its own
  // texts take one allocation; texts that many items have alike are held once: the parent's identifier by the
  // items of one listing, the content type by every item of the process (see item.cc).
  std::unique_ptr<char[]> text_;
  uint32_t start_[kTexts + 1];  // where each text begins in text_; the last is the end of the last
  bool hasSize_ = false;
  bool hasModified_ = false;
  std::shared_ptr<const platform::ItemIdentifier> parent_;
  const std::string* contentType_;
  int64_t documentSize_ = 0;
  platform::Date modified_;
};

// How items travel between the extension's parts: shared, never changed.
using ItemPtr = std::shared_ptr<const Item>;

// The extension of a file name as the platform computes it: the text after the last ".", none for a name that
// has no "." after its first character.
std::string pathExtension(std::string_view name);

}  // namespace davfp
