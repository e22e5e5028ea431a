// The path commands' output for people: folder listings, short and long (aligned columns with sizes and
// dates in local time), and lines about changes. Pure functions (local time from the process's time zone).
#pragma once

#include <string>
#include <vector>

#include "platform/file_provider.h"

namespace davfp::cli {

// Names are shown as visible() shows them, so that each is one piece of its line.

// One name per line; folders end in "/".
std::string shortListing(const std::vector<platform::ItemRef>& items);

// One item per line: kind ("d" or "-"), size in bytes ("-" for folders), modification date, name; the columns
// aligned.
std::string longListing(const std::vector<platform::ItemRef>& items);

// "2024-05-01 14:03" in local time; "-" when there is no date.
std::string localDate(const std::optional<platform::Date>& date);

// Items sorted as a person expects to read them: by name, byte order.
std::vector<platform::ItemRef> sortedByName(std::vector<platform::ItemRef> items);

}  // namespace davfp::cli
