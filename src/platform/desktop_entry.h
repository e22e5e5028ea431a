// Reading freedesktop desktop entry files: the keys of the [Desktop Entry] group and the Exec key's command
// line (its quoting rules, field codes removed). Pure functions, safe from any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace davfp::platform {

// The keys of an application's entry that starting it needs. String values are unescaped.
struct DesktopEntry {
  std::string type;                 // "Application", "Link", "Directory"; empty when missing
  std::string exec;                 // the Exec key, before its quoting rules are applied
  std::optional<std::string> path;  // the working directory to start in (the Path key)
  bool hidden = false;              // Hidden=true: the entry counts as deleted
};

// Reads the [Desktop Entry] group of a desktop entry file. Other groups, comments and localised keys
// ("Exec[de]") are ignored; the first occurrence of a key counts.
DesktopEntry parseDesktopEntry(std::string_view text);

// Applies the escapes of string values: \s \n \t \r \\. Other backslash sequences are kept as they are,
// so that the Exec key's own quoting rules see them.
std::string unescapeDesktopValue(std::string_view raw);

// Splits an (unescaped) Exec value into the program and its arguments: arguments are separated by blanks,
// double quotes group an argument and inside them a backslash escapes " ` $ and \. Field codes (%f %F %u %U
// %i %c %k and the deprecated ones) are removed, an argument that consisted only of field codes is dropped,
// and "%%" becomes "%". None when the value is empty or a quote is not closed.
std::optional<std::vector<std::string>> execArguments(std::string_view exec);

}  // namespace davfp::platform
