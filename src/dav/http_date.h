// HTTP dates in the fixed form of RFC 9110 ("Sun, 06 Nov 1994 08:49:37 GMT"), read and written without any
// locale. Pure functions, safe to call from any number of threads.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace davfp {

// Reads "EEE, dd MMM yyyy HH:mm:ss zzz" with English day and month names and the zone GMT, UTC or
// GMT+hh:mm / GMT-hh:mm. None for every other form (ISO 8601, RFC 850, asctime), for fields out of range
// (hour 24, 30 February), and for instants the time point cannot hold.
std::optional<std::chrono::system_clock::time_point> parseHttpDate(std::string_view text);

// Writes the instant, truncated to whole seconds, as "Sun, 06 Nov 1994 08:49:37 GMT".
std::string formatHttpDate(std::chrono::system_clock::time_point time);

}  // namespace davfp
