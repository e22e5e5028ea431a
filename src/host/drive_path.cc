#include "host/drive_path.h"

#include "host/failure.h"

namespace davfp::cli {

namespace {

std::string quoted(std::string_view name) {
  std::string out = "\"";
  for (char c : name) {
    if (c == '\0') {
      out += "\\0";
    } else {
      out += c;
    }
  }
  return out + "\"";
}

}  // namespace

DrivePath DrivePath::parse(std::string_view text) {
  if (text.find('\0') != std::string_view::npos) throw UsageError("a path cannot contain a NUL byte");
  DrivePath path;
  size_t start = 0;
  while (start <= text.size()) {
    size_t slash = text.find('/', start);
    if (slash == std::string_view::npos) slash = text.size();
    std::string_view name = text.substr(start, slash - start);
    start = slash + 1;
    if (name.empty()) continue;
    if (name == "." || name == "..") {
      throw UsageError(quoted(text) + ": \".\" and \"..\" are not supported in drive paths");
    }
    path.names_.emplace_back(name);
  }
  return path;
}

std::string DrivePath::name() const { return names_.empty() ? std::string() : names_.back(); }

DrivePath DrivePath::parent() const {
  DrivePath p = *this;
  if (!p.names_.empty()) p.names_.pop_back();
  return p;
}

DrivePath DrivePath::child(std::string name) const {
  DrivePath p = *this;
  p.names_.push_back(std::move(name));
  return p;
}

std::string DrivePath::text() const {
  if (names_.empty()) return "/";
  std::string out;
  for (const auto& name : names_) out += "/" + name;
  return out;
}

void checkName(std::string_view name) {
  if (name.empty()) throw UsageError("a name cannot be empty");
  if (name.find('\0') != std::string_view::npos)
    throw UsageError(quoted(name) + ": a name cannot contain a NUL byte");
  if (name.find('/') != std::string_view::npos)
    throw UsageError(quoted(name) + ": a name cannot contain \"/\"");
  if (name == "." || name == "..") throw UsageError(quoted(name) + ": not a valid name");
}

}  // namespace davfp::cli
