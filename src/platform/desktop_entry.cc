#include "platform/desktop_entry.h"

namespace davfp::platform {

namespace {

std::string_view trimBlanks(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

// The field codes of the Exec key, the deprecated ones (%d %D %n %N %v %m) included.
bool isFieldCode(char c) { return std::string_view("fFuUickdDnNvm").find(c) != std::string_view::npos; }

}  // namespace

DesktopEntry parseDesktopEntry(std::string_view text) {
  DesktopEntry entry;
  bool inGroup = false;
  bool seenType = false, seenExec = false, seenPath = false, seenHidden = false;
  while (!text.empty()) {
    auto newline = text.find('\n');
    std::string_view line = trimBlanks(text.substr(0, newline));
    text.remove_prefix(newline == std::string_view::npos ? text.size() : newline + 1);
    if (line.empty() || line.front() == '#') continue;
    if (line.front() == '[') {
      inGroup = line == "[Desktop Entry]";
      continue;
    }
    if (!inGroup) continue;
    auto equals = line.find('=');
    if (equals == std::string_view::npos) continue;
    std::string_view key = trimBlanks(line.substr(0, equals));
    std::string_view value = trimBlanks(line.substr(equals + 1));
    if (key == "Type" && !seenType) {
      entry.type = unescapeDesktopValue(value);
      seenType = true;
    } else if (key == "Exec" && !seenExec) {
      entry.exec = unescapeDesktopValue(value);
      seenExec = true;
    } else if (key == "Path" && !seenPath) {
      if (!value.empty()) entry.path = unescapeDesktopValue(value);
      seenPath = true;
    } else if (key == "Hidden" && !seenHidden) {
      entry.hidden = value == "true";
      seenHidden = true;
    }
  }
  return entry;
}

std::string unescapeDesktopValue(std::string_view raw) {
  std::string out;
  out.reserve(raw.size());
  for (size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] != '\\' || i + 1 == raw.size()) {
      out += raw[i];
      continue;
    }
    switch (raw[i + 1]) {
      case 's':
        out += ' ';
        break;
      case 'n':
        out += '\n';
        break;
      case 't':
        out += '\t';
        break;
      case 'r':
        out += '\r';
        break;
      case '\\':
        out += '\\';
        break;
      default:
        out += raw[i];
        out += raw[i + 1];
        break;
    }
    ++i;
  }
  return out;
}

std::optional<std::vector<std::string>> execArguments(std::string_view exec) {
  std::vector<std::string> args;
  std::string current;
  bool keep = false;  // the argument has text or quotes, so it survives even when empty
  auto finish = [&] {
    if (keep) args.push_back(current);
    current.clear();
    keep = false;
  };
  bool quoted = false;
  for (size_t i = 0; i < exec.size(); ++i) {
    char c = exec[i];
    if (!quoted && (c == ' ' || c == '\t' || c == '\n')) {
      finish();
      continue;
    }
    if (c == '"') {
      quoted = !quoted;
      keep = true;
    } else if (quoted && c == '\\' && i + 1 < exec.size() &&
               std::string_view("\"`$\\").find(exec[i + 1]) != std::string_view::npos) {
      current += exec[++i];
    } else if (c == '%' && i + 1 < exec.size()) {
      char code = exec[++i];
      if (code == '%') {
        current += '%';
        keep = true;
      } else if (!isFieldCode(code)) {
        // Not a field code the format defines: kept literally rather than guessed at.
        current += '%';
        current += code;
        keep = true;
      }
    } else {
      current += c;
      keep = true;
    }
  }
  if (quoted) return std::nullopt;
  finish();
  if (args.empty() || args.front().empty()) return std::nullopt;
  return args;
}

}  // namespace davfp::platform
