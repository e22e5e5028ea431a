#include "mount/item_attributes.h"

#include <cerrno>

#include "mount/fs_error.h"

namespace davfp::mount {

namespace {

const char* stateName(ItemState state) {
  switch (state) {
    case ItemState::dataless:
      return "dataless";
    case ItemState::materialised:
      return "materialised";
    case ItemState::pending:
      return "pending";
    case ItemState::conflict:
      return "conflict";
  }
  return "dataless";
}

// setfattr sends the value as given; some programs count the C string's NUL in.
std::string_view withoutNul(std::string_view value) {
  if (!value.empty() && value.back() == '\0') value.remove_suffix(1);
  return value;
}

}  // namespace

ItemAttributes::ItemAttributes(Journal& journal, DriveFs& fs) : journal_(journal), fs_(fs) {}

std::string ItemAttributes::names(Ino ino) {
  fs_.attributes(ino);  // ENOENT for an item that is gone
  return std::string(kPinnedAttribute) + '\0' + kStateAttribute + '\0';
}

std::string ItemAttributes::get(Ino ino, const std::string& name) {
  if (name == kPinnedAttribute) {
    fs_.attributes(ino);  // ENOENT for an item that is gone
    return journal_.pinned(ino) ? "1" : "0";
  }
  if (name == kStateAttribute) return stateName(journal_.state(ino));
  throw FsError(ENOTSUP);
}

void ItemAttributes::set(Ino ino, const std::string& name, std::string_view value, bool createOnly) {
  value = withoutNul(value);
  if (name == kPinnedAttribute) {
    if (createOnly) throw FsError(EEXIST);
    if (value != "1" && value != "0") throw FsError(EINVAL);
    journal_.setPolicy(ino, value == "1" ? Policy::pinned : Policy::unpinned);
    return;
  }
  if (name == kStateAttribute) {
    if (createOnly) throw FsError(EEXIST);
    if (value != "dataless") throw FsError(EINVAL);
    fs_.evict(ino);
    return;
  }
  throw FsError(ENOTSUP);
}

void ItemAttributes::remove(Ino ino, const std::string& name) {
  if (name == kPinnedAttribute) {
    journal_.setPolicy(ino, Policy::inherited);
    return;
  }
  if (name == kStateAttribute) throw FsError(EPERM);
  throw FsError(ENOTSUP);
}

}  // namespace davfp::mount
