// JSON text written straight into a string, without a document tree in between, for output that is large or
// written often (the state file, listings of many items). Pure functions.
#pragma once

#include <string>
#include <string_view>

namespace davfp::platform {

// The case of the hex digits in \u00XX escapes.
enum class HexCase { lower, upper };

// Appends text as a JSON string: valid UTF-8 as it is, with quotation marks and backslashes escaped, \b \f \n
// \r \t for those control characters and \u00XX for the others. Text that is not UTF-8 cannot be written as
// JSON: it is written as the JSON library writes it, with its bad bytes replaced by U+FFFD.
void appendJsonString(std::string& out, std::string_view text, HexCase hex);

}  // namespace davfp::platform
