#include "dav/http_date.h"

#include <array>
#include <cstdint>

namespace davfp {

namespace {

using namespace std::chrono;

constexpr std::array<std::string_view, 7> kWeekdays = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr std::array<std::string_view, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                      "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

char asciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (asciiLower(a[i]) != asciiLower(b[i])) return false;
  }
  return true;
}

// A cursor over the text; every reader consumes what it accepts and fails without side effects otherwise.
struct Reader {
  std::string_view rest;

  bool literal(std::string_view s) {
    if (!rest.starts_with(s)) return false;
    rest.remove_prefix(s.size());
    return true;
  }

  // Between minDigits and maxDigits ASCII digits.
  bool number(size_t minDigits, size_t maxDigits, int& value) {
    size_t n = 0;
    int v = 0;
    while (n < maxDigits && n < rest.size() && rest[n] >= '0' && rest[n] <= '9') {
      v = v * 10 + (rest[n] - '0');
      ++n;
    }
    if (n < minDigits) return false;
    rest.remove_prefix(n);
    value = v;
    return true;
  }

  // One of the three-letter names, compared without regard to case; index receives its position.
  template <size_t N>
  bool name(const std::array<std::string_view, N>& names, int& index) {
    if (rest.size() < 3) return false;
    for (size_t i = 0; i < N; ++i) {
      if (equalsIgnoringCase(rest.substr(0, 3), names[i])) {
        rest.remove_prefix(3);
        index = static_cast<int>(i);
        return true;
      }
    }
    return false;
  }

  // "GMT" or "UTC", optionally "GMT+hh:mm" / "GMT-hh:mm"; offset receives the zone's offset from UTC.
  bool zone(seconds& offset) {
    if (rest.size() < 3) return false;
    std::string_view zoneName = rest.substr(0, 3);
    if (equalsIgnoringCase(zoneName, "UTC")) {
      rest.remove_prefix(3);
      offset = seconds(0);
      return true;
    }
    if (!equalsIgnoringCase(zoneName, "GMT")) return false;
    rest.remove_prefix(3);
    offset = seconds(0);
    if (rest.empty()) return true;
    int sign = rest[0] == '+' ? 1 : rest[0] == '-' ? -1 : 0;
    if (sign == 0) return false;
    rest.remove_prefix(1);
    int hh = 0, mm = 0;
    if (!number(2, 2, hh) || !literal(":") || !number(2, 2, mm) || hh > 23 || mm > 59) return false;
    offset = sign * (hours(hh) + minutes(mm));
    return true;
  }
};

}  // namespace

std::optional<system_clock::time_point> parseHttpDate(std::string_view text) {
  Reader r{text};
  int weekday = 0, day = 0, month = 0, year = 0, hh = 0, mm = 0, ss = 0;
  seconds offset{0};
  // The day name is not checked against the date: the date fields decide.
  if (!r.name(kWeekdays, weekday) || !r.literal(", ") || !r.number(1, 2, day) || !r.literal(" ") ||
      !r.name(kMonths, month) || !r.literal(" ") || !r.number(4, 4, year) || !r.literal(" ") ||
      !r.number(1, 2, hh) || !r.literal(":") || !r.number(1, 2, mm) || !r.literal(":") ||
      !r.number(1, 2, ss) || !r.literal(" ") || !r.zone(offset) || !r.rest.empty()) {
    return std::nullopt;
  }
  if (hh > 23 || mm > 59 || ss > 59) return std::nullopt;
  year_month_day date{std::chrono::year(year), std::chrono::month(static_cast<unsigned>(month + 1)),
                      std::chrono::day(static_cast<unsigned>(day))};
  if (!date.ok()) return std::nullopt;

  // Whole seconds since 1970 fit easily in 64 bits for four-digit years; the time point may hold less.
  int64_t total =
      (sys_days(date).time_since_epoch() + hours(hh) + minutes(mm) + seconds(ss) - offset).count();
  constexpr int64_t kMax = duration_cast<seconds>(system_clock::duration::max()).count();
  constexpr int64_t kMin = duration_cast<seconds>(system_clock::duration::min()).count();
  if (total > kMax || total < kMin) return std::nullopt;
  return system_clock::time_point(duration_cast<system_clock::duration>(seconds(total)));
}

std::string formatHttpDate(system_clock::time_point time) {
  auto secs = floor<seconds>(time);
  auto daysPart = floor<days>(secs);
  year_month_day date(daysPart);
  hh_mm_ss clock(secs - daysPart);
  weekday wd(daysPart);

  auto two = [](unsigned v) {
    return std::string{static_cast<char>('0' + v / 10), static_cast<char>('0' + v % 10)};
  };
  int y = static_cast<int>(date.year());
  std::string year = std::to_string(y < 0 ? 0 : y);
  while (year.size() < 4) year.insert(0, "0");

  std::string out;
  out.reserve(29);
  out += kWeekdays[wd.c_encoding()];
  out += ", ";
  out += two(static_cast<unsigned>(date.day()));
  out += ' ';
  out += kMonths[static_cast<unsigned>(date.month()) - 1];
  out += ' ';
  out += year;
  out += ' ';
  out += two(static_cast<unsigned>(clock.hours().count()));
  out += ':';
  out += two(static_cast<unsigned>(clock.minutes().count()));
  out += ':';
  out += two(static_cast<unsigned>(clock.seconds().count()));
  out += " GMT";
  return out;
}

}  // namespace davfp
