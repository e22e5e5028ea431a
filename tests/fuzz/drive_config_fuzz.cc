// Fuzzes the decoding of drives.json: the input is the file's bytes. Checks that
//   - decoding is all or nothing and agrees with a reading of the whole document as a tree (where no object
//     repeats a member name);
//   - a decoded drive list written out again as drives.json decodes to the same list.
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "dav/drive_config.h"
#include "json_reference.h"

namespace davfp::fuzz {
namespace {

using Drives = std::map<std::string, DriveInfo>;

std::string describe(const Drives& drives) {
  std::string out;
  for (const auto& [id, drive] : drives) {
    out += printable(id) + ": " + printable(drive.name) + " at " + printable(drive.url) + "\n";
  }
  return out;
}

// The drive list that the tree holds, or none when one drive is not an object with string "name" and "url".
std::optional<Drives> referenceDrives(const Tree& t) {
  if (!t.is_object()) return std::nullopt;
  Drives out;
  for (const auto& [id, drive] : t.items()) {
    if (!drive.is_object()) return std::nullopt;
    auto name = drive.find("name"), url = drive.find("url");
    if (name == drive.end() || url == drive.end() || !name->is_string() || !url->is_string()) {
      return std::nullopt;
    }
    out.insert_or_assign(id, DriveInfo{name->get<std::string>(), url->get<std::string>()});
  }
  return out;
}

std::string encode(const Drives& drives) {
  nlohmann::json file = nlohmann::json::object();
  for (const auto& [id, drive] : drives) file[id] = {{"name", drive.name}, {"url", drive.url}};
  return file.dump();
}

}  // namespace
}  // namespace davfp::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace davfp::fuzz;
  std::string_view input(reinterpret_cast<const char*>(data), size);
  std::optional<Drives> decoded = davfp::decodeDrives(input);
  if (decoded) checkRewrite(*decoded, davfp::decodeDrives, encode, describe);
  checkAgainstTree(input, decoded, referenceDrives, describe);
  return 0;
}
