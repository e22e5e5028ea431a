#include "state/state_file.h"

#include <nlohmann/json.hpp>

#include "state/json_reader.h"

namespace davfp {
namespace {

bool keptVerbatim(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '-' ||
         c == '_';
}

// Reads the three members into a StateDisk; see state_file.h for the shape.
class StateReader final : public JsonShapeReader {
 public:
  StateDisk disk;
  bool complete() const { return haveIds_ && haveListed_ && haveAnchor_; }

 private:
  enum class Member { ids, listed, anchor, other };

  bool onScalar(size_t depth, Scalar value) override {
    switch (depth) {
      case 1:
        if (member_ == Member::other) return true;
        if (member_ != Member::anchor || !value.integer) return false;
        disk.anchor = *value.integer;
        haveAnchor_ = true;
        return true;
      case 2:
        if (member_ != Member::ids || value.string == nullptr) return false;
        disk.ids.insert_or_assign(std::move(key_), std::move(*value.string));
        return true;
      case 3:
        if (value.string == nullptr) return false;
        snapshot_->insert_or_assign(std::move(key_), std::move(*value.string));
        return true;
      default:
        return false;
    }
  }

  Open onOpen(size_t depth, bool isObject) override {
    if (depth == 1 && member_ == Member::other) return Open::skip;
    if (!isObject) return Open::reject;
    switch (depth) {
      case 0:
        return Open::descend;
      case 1:
        if (member_ == Member::ids) {
          disk.ids.clear();
          haveIds_ = true;
        } else if (member_ == Member::listed) {
          disk.listed.clear();
          haveListed_ = true;
        } else {
          return Open::reject;
        }
        return Open::descend;
      case 2:
        if (member_ != Member::listed) return Open::reject;
        snapshot_ = &disk.listed[folder_];
        snapshot_->clear();
        return Open::descend;
      default:
        return Open::reject;
    }
  }

  bool onKey(size_t depth, std::string& key) override {
    if (depth == 1) {
      member_ = key == "ids"      ? Member::ids
                : key == "listed" ? Member::listed
                : key == "anchor" ? Member::anchor
                                  : Member::other;
    } else if (depth == 2 && member_ == Member::listed) {
      folder_ = std::move(key);
    } else {
      key_ = std::move(key);
    }
    return true;
  }

  bool onClose(size_t) override { return true; }

  Member member_ = Member::other;
  bool haveIds_ = false;
  bool haveListed_ = false;
  bool haveAnchor_ = false;
  std::string folder_;
  std::string key_;
  StateDisk::Snapshot* snapshot_ = nullptr;  // the folder being read; map nodes do not move
};

}  // namespace

std::string stateFileName(std::string_view domain) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out = "state-";
  for (unsigned char c : platform::nfc(domain)) {
    if (keptVerbatim(c)) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0x0F];
    }
  }
  out += ".json";
  return out;
}

std::string encodeState(const StateDisk::Ids& ids, const StateDisk::Snapshots& listed, int64_t anchor) {
  using nlohmann::json;
  json idsJson = json::object();
  for (const auto& [id, path] : ids) idsJson.emplace(id, path);
  json listedJson = json::object();
  for (const auto& [folder, children] : listed) {
    json childrenJson = json::object();
    for (const auto& [child, version] : children) childrenJson.emplace(child, version);
    listedJson.emplace(folder, std::move(childrenJson));
  }
  json out = json::object();
  out.emplace("ids", std::move(idsJson));
  out.emplace("listed", std::move(listedJson));
  out.emplace("anchor", anchor);
  return out.dump(-1, ' ', false, json::error_handler_t::replace);
}

std::optional<StateDisk> decodeState(std::string_view bytes) {
  StateReader reader;
  if (!reader.read(bytes) || !reader.complete()) return std::nullopt;
  return std::move(reader.disk);
}

}  // namespace davfp
