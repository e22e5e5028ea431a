// One or two command lines for each davfp command, shown in its --help and in the manual page.
#pragma once

#include <string>
#include <vector>

namespace davfp::cli {

// The examples of a command by its name; none for a command without.
const std::vector<std::string>& examplesOf(const std::string& command);

}  // namespace davfp::cli
