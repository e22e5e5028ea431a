#include "state/state_file.h"

#include <algorithm>

#include "platform/json_text.h"
#include "platform/json_shape_reader.h"

namespace davfp {
namespace {

bool keptVerbatim(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '-' ||
         c == '_';
}

// Sets a member read from the file; a member met again takes the later value and keeps the first spelling.
void assignMember(platform::CanonicalMap<std::string>& map, std::string& key, std::string& value) {
  map.insert_or_assign(std::move(key), std::move(value));
}
void assignMember(TextMap& map, std::string& key, std::string& value) { map.assign(key, value); }

// Reads the three members into a StateDisk or a StateData; see state_file.h for the shape.
template <class Disk>
class StateReader final : public platform::JsonShapeReader {
 public:
  Disk disk;
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
        assignMember(disk.ids, key_, *value.string);
        return true;
      case 3:
        if (value.string == nullptr) return false;
        assignMember(*snapshot_, key_, *value.string);
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
  typename Disk::Snapshots::mapped_type* snapshot_ = nullptr;  // the folder being read; map nodes do not move
};

constexpr char kHex[] = "0123456789ABCDEF";

void appendEscaped(std::string& out, unsigned char c) {
  if (keptVerbatim(c)) {
    out += static_cast<char>(c);
  } else {
    out += '%';
    out += kHex[c >> 4];
    out += kHex[c & 0x0F];
  }
}

void appendHex(std::string& out, uint64_t value) {
  for (int shift = 60; shift >= 0; shift -= 4) out += kHex[(value >> shift) & 0x0F];
}

// The state file has always written control characters as \u00XX with upper-case hex digits.
void appendJsonString(std::string& out, std::string_view text) {
  platform::appendJsonString(out, text, platform::HexCase::upper);
}

// Appends the key of an object member and its colon, after a comma unless it is the object's first.
void appendMember(std::string& out, bool& first, std::string_view key) {
  if (!first) out += ',';
  first = false;
  appendJsonString(out, key);
  out += ':';
}

// 64-bit FNV-1a from a given start value: fixed for good, since file names depend on it.
uint64_t fnv1a(std::string_view bytes, uint64_t hash) {
  for (unsigned char c : bytes) {
    hash ^= c;
    hash *= 0x100000001b3u;
  }
  return hash;
}

}  // namespace

std::string stateFileName(std::string_view domain) {
  constexpr std::string_view kPrefix = "state-", kSuffix = ".json";
  // Most file systems refuse names longer than 255 bytes, and escaping triples non-ASCII text.
  constexpr size_t kMaxName = 255;
  constexpr size_t kMaxKept = 200;
  std::string id = platform::nfc(domain);
  std::string escaped;
  for (unsigned char c : id) appendEscaped(escaped, c);
  if (kPrefix.size() + escaped.size() + kSuffix.size() > kMaxName) {
    // A readable prefix, cut between escapes, then a 128-bit hash of the whole identifier. "~" is neither
    // kept nor made by escaping, so these names never meet the short ones.
    size_t cut = kMaxKept;
    while (escaped[cut - 1] == '%' || escaped[cut - 2] == '%') --cut;
    escaped.resize(cut);
    escaped += '~';
    appendHex(escaped, fnv1a(id, 0xcbf29ce484222325u));  // the standard start value
    appendHex(escaped, fnv1a(id, 0x6c62272e07bb0142u));  // another, for a second, independent half
  }
  return std::string(kPrefix) + escaped + std::string(kSuffix);
}

std::string encodeState(const TextMap& ids, const StateData::Snapshots& listed, int64_t anchor,
                        size_t sizeHint) {
  // Written straight into one string, without a document tree in between: the file is rewritten whole after
  // every change, so this runs for every save. Each map's text lies in one buffer in the order of its
  // pairs, so the walk reads memory in order.
  // Room for all of it at once: growing a string of many megabytes step by step copies it several times and
  // holds two copies at each step. The text and its punctuation, and a margin for escapes (entity tags come
  // in quotation marks); the previous encoding's size counts the escapes that the state held then.
  auto jsonBytes = [](const TextMap& map) { return map.textBytes() + 6 * map.size(); };  // "k":"v",
  size_t estimate = 64 + jsonBytes(ids);
  for (const auto& [folder, children] : listed) estimate += folder.size() + 8 + jsonBytes(children);
  std::string out;
  out.reserve(std::max(estimate + estimate / 8, sizeHint + sizeHint / 32));
  out += "{\"ids\":{";
  for (size_t i = 0; i < ids.size(); ++i) {
    if (i > 0) out += ',';
    appendJsonString(out, ids.key(i));
    out += ':';
    appendJsonString(out, ids.value(i));
  }
  out += "},\"listed\":{";
  bool first = true;
  for (const auto& [folder, children] : listed) {
    appendMember(out, first, folder);
    out += '{';
    for (size_t i = 0; i < children.size(); ++i) {
      if (i > 0) out += ',';
      appendJsonString(out, children.key(i));
      out += ':';
      appendJsonString(out, children.value(i));
    }
    out += '}';
  }
  out += "},\"anchor\":";
  out += std::to_string(anchor);
  out += '}';
  return out;
}

std::string encodeState(const StateDisk::Ids& ids, const StateDisk::Snapshots& listed, int64_t anchor,
                        size_t sizeHint) {
  StateData data;
  for (const auto& [id, path] : ids) data.ids.set(id, path);
  for (const auto& [folder, children] : listed) {
    TextMap& snapshot = data.listed[folder];
    for (const auto& [child, version] : children) snapshot.set(child, version);
  }
  return encodeState(data.ids, data.listed, anchor, sizeHint);
}

namespace {

template <class Disk>
std::optional<Disk> decode(std::string_view bytes) {
  StateReader<Disk> reader;
  if (!reader.read(bytes) || !reader.complete()) return std::nullopt;
  return std::move(reader.disk);
}

}  // namespace

std::optional<StateDisk> decodeState(std::string_view bytes) { return decode<StateDisk>(bytes); }

std::optional<StateData> decodeStateData(std::string_view bytes) { return decode<StateData>(bytes); }

}  // namespace davfp
