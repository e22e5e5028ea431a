// The path commands' output for people: folder listings, short and long (aligned columns with sizes and
// dates in local time), and lines about changes. Pure functions (local time from the process's time zone).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/file_provider.h"

namespace davfp::cli {

// Names are shown as visible() shows them, so that each is one piece of its line.

// One name per line; folders end in "/".
std::string shortListing(const std::vector<platform::ItemRef>& items);

// One item per line: kind ("d" or "-"), size in bytes ("-" for folders), modification date, name; the columns
// aligned. compactSizes shows sizes as ls -h does (compactSize).
std::string longListing(const std::vector<platform::ItemRef>& items, bool compactSizes = false);

// A size as ls -h shows it: "512", "1.5K", "60M", "2.0G"; rounded up.
std::string compactSize(int64_t bytes);

// "2024-05-01 14:03" in local time; "-" when there is no date.
std::string localDate(const std::optional<platform::Date>& date);

// Items sorted as a person expects to read them: by name, byte order.
std::vector<platform::ItemRef> sortedByName(std::vector<platform::ItemRef> items);

}  // namespace davfp::cli
