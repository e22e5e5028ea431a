#include "platform/mime_globs.h"

#include <charconv>
#include <fstream>
#include <sstream>

#include "platform/xdg_dirs.h"

namespace davfp::platform {

namespace {

std::string asciiLower(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

// Splits off the text up to the next ':' (or the end).
std::string_view nextField(std::string_view& rest) {
  auto colon = rest.find(':');
  std::string_view field = rest.substr(0, colon);
  rest.remove_prefix(colon == std::string_view::npos ? rest.size() : colon + 1);
  return field;
}

bool hasFlag(std::string_view flags, std::string_view wanted) {
  while (!flags.empty()) {
    auto comma = flags.find(',');
    if (flags.substr(0, comma) == wanted) return true;
    if (comma == std::string_view::npos) break;
    flags.remove_prefix(comma + 1);
  }
  return false;
}

}  // namespace

std::vector<std::string> installedGlobs2Files() {
  std::vector<std::string> files;
  for (const auto& dir : xdgDataDirectories()) files.push_back(dir + "/mime/globs2");
  return files;
}

MimeGlobs MimeGlobs::load(const std::vector<std::string>& files) {
  MimeGlobs globs;
  for (const auto& path : files) {
    std::ifstream in(path, std::ios::binary);
    if (!in) continue;
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) continue;
    globs.add(text.str());
  }
  return globs;
}

void MimeGlobs::insert(std::unordered_map<std::string, Glob>& table, std::string key, Glob glob) {
  auto [it, inserted] = table.try_emplace(std::move(key), glob);
  if (!inserted && glob.weight > it->second.weight) it->second = std::move(glob);
}

void MimeGlobs::add(std::string_view fileText) {
  std::unordered_set<std::string> closedHere;
  while (!fileText.empty()) {
    auto newline = fileText.find('\n');
    std::string_view line = fileText.substr(0, newline);
    fileText.remove_prefix(newline == std::string_view::npos ? fileText.size() : newline + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty() || line.front() == '#') continue;

    std::string_view rest = line;
    std::string_view weightText = nextField(rest);
    std::string_view type = nextField(rest);
    std::string_view glob = nextField(rest);
    std::string_view flags = rest;
    int weight = 0;
    auto [end, ec] = std::from_chars(weightText.data(), weightText.data() + weightText.size(), weight);
    if (ec != std::errc() || end != weightText.data() + weightText.size() || weight < 0) continue;
    if (type.find('/') == std::string_view::npos || glob.empty()) continue;

    if (glob == "__NOGLOBS__") {
      closedHere.emplace(type);
      continue;
    }
    if (closedTypes_.count(std::string(type)) != 0) continue;
    if (glob.size() < 3 || glob.substr(0, 2) != "*.") continue;
    std::string_view extension = glob.substr(2);
    if (extension.find_first_of("*?[]\\") != std::string_view::npos) continue;

    Glob entry{weight, std::string(type)};
    if (hasFlag(flags, "cs")) {
      insert(caseSensitive_, std::string(extension), std::move(entry));
    } else {
      insert(caseInsensitive_, asciiLower(extension), std::move(entry));
    }
  }
  closedTypes_.merge(closedHere);
}

std::optional<std::string> MimeGlobs::typeFor(std::string_view extension) const {
  if (extension.empty()) return std::nullopt;
  const Glob* exact = nullptr;
  if (auto it = caseSensitive_.find(std::string(extension)); it != caseSensitive_.end()) exact = &it->second;
  const Glob* folded = nullptr;
  if (auto it = caseInsensitive_.find(asciiLower(extension)); it != caseInsensitive_.end())
    folded = &it->second;
  if (exact != nullptr && (folded == nullptr || exact->weight >= folded->weight)) return exact->type;
  if (folded != nullptr) return folded->type;
  return std::nullopt;
}

}  // namespace davfp::platform
