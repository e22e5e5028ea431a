// Text that a server chose (names, paths) on its way to a terminal. A name may hold any bytes: escape
// sequences that clear the screen, set the window title or hide text, a line break that forges a line of its
// own, a NUL, bytes that are not UTF-8, controls that reverse the direction of what follows. visible() shows
// each of them as an escape, as `ls -b` does, so that a name is always one piece of one line. Pure function.
#pragma once

#include <string>
#include <string_view>

namespace davfp::cli {

// The text with these shown as escapes: "\\" for a backslash (so that an escape is never ambiguous), \a \b \t
// \n \v \f \r, every other control character (C0, DEL, C1) and every byte that is not part of well-formed
// UTF-8 as its bytes in octal ("\033", "\000", "\302\233", "\377"), and likewise the characters that change
// the direction of the text or break the line (U+061C, U+200E, U+200F, U+202A to U+202E, U+2066 to U+2069,
// U+2028, U+2029). Other text, letters of every script included, stays as it is.
std::string visible(std::string_view text);

}  // namespace davfp::cli
