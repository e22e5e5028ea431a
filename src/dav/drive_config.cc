#include "dav/drive_config.h"

#include <exception>

#include "platform/app_identity.h"
#include "platform/json_shape_reader.h"
#include "platform/text.h"

namespace davfp {
namespace {

// { "<domain>": { "name": "...", "url": "...", ...ignored }, ... }
class DrivesReader final : public platform::JsonShapeReader {
 public:
  std::map<std::string, DriveInfo> drives;

 private:
  enum class Field { name, url, other };

  bool onScalar(size_t depth, Scalar value) override {
    if (depth != 2) return false;  // the document and each drive must be objects
    if (field_ == Field::other) return true;
    if (value.string == nullptr) return false;
    (field_ == Field::name ? name_ : url_) = std::move(*value.string);
    return true;
  }

  Open onOpen(size_t depth, bool isObject) override {
    if (depth == 0 || depth == 1) {
      if (!isObject) return Open::reject;
      name_.reset();
      url_.reset();
      return Open::descend;
    }
    return field_ == Field::other ? Open::skip : Open::reject;
  }

  bool onKey(size_t depth, std::string& key) override {
    if (depth == 1) {
      domain_ = std::move(key);
    } else {
      field_ = key == "name" ? Field::name : key == "url" ? Field::url : Field::other;
    }
    return true;
  }

  bool onClose(size_t depth) override {
    if (depth != 1) return true;
    if (!name_ || !url_) return false;
    drives.insert_or_assign(domain_, DriveInfo{std::move(*name_), std::move(*url_)});
    return true;
  }

  std::string domain_;
  Field field_ = Field::other;
  std::optional<std::string> name_;
  std::optional<std::string> url_;
};

}  // namespace

std::optional<std::string> groupDir(platform::Env& env) { return env.groupContainer(platform::kAppGroup); }

std::optional<std::map<std::string, DriveInfo>> decodeDrives(std::string_view bytes) {
  DrivesReader reader;
  if (!reader.read(bytes)) return std::nullopt;
  return std::move(reader.drives);
}

std::optional<DriveInfo> driveInfo(std::string_view domain, platform::Env& env) {
  try {
    auto dir = groupDir(env);
    if (!dir || dir->empty()) return std::nullopt;
    auto drives = decodeDrives(env.readFile(platform::joinPath(*dir, kDrivesFileName)));
    if (!drives) return std::nullopt;
    if (auto it = drives->find(std::string(domain)); it != drives->end()) return it->second;
    for (const auto& [id, drive] : *drives) {
      if (platform::canonicalEqual(id, domain)) return drive;
    }
  } catch (const std::exception&) {
    // Every failure (no file, no permission, a directory of that name, no memory) means the same to the
    // caller: the drive is not published now.
  }
  return std::nullopt;
}

}  // namespace davfp
