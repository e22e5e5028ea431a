// Fuzzes HTTP dates: the input is a date's text. Checks that
//   - a date that parses is a whole second, formats in the fixed 29-character form, and that form parses
//     back to the same instant and formats to the same text;
//   - an arbitrary instant drawn from the input, cut to whole seconds, survives formatting and parsing.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "dav/http_date.h"
#include "fuzz_support.h"

namespace davfp::fuzz {
namespace {

using std::chrono::system_clock;

std::string ticks(system_clock::time_point t) { return std::to_string(t.time_since_epoch().count()); }

void checkRoundTrip(system_clock::time_point t, const std::string& context) {
  std::string text = formatHttpDate(t);
  FUZZ_CHECK(text.size() == 29 && text.ends_with(" GMT"), context + "\nformatted " + printable(text));
  auto back = parseHttpDate(text);
  FUZZ_CHECK(back && *back == t,
             context + "\nformatted " + text + "\nread back " + (back ? ticks(*back) : "-"));
  FUZZ_CHECK(formatHttpDate(*back) == text, context + "\nformatted " + text);
}

}  // namespace
}  // namespace davfp::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace davfp;
  using namespace davfp::fuzz;
  using namespace std::chrono;
  std::string_view input(reinterpret_cast<const char*>(data), size);

  if (auto parsed = parseHttpDate(input)) {
    std::string context = "text " + printable(input) + "\nparsed " + ticks(*parsed);
    FUZZ_CHECK(floor<seconds>(*parsed) == *parsed, context);
    checkRoundTrip(*parsed, context);
  }

  // Any whole second that the time point can hold.
  constexpr int64_t kMin = duration_cast<seconds>(system_clock::duration::min()).count();
  constexpr int64_t kMax = duration_cast<seconds>(system_clock::duration::max()).count();
  InputRandom random(input);
  auto offset = static_cast<int64_t>(random.next() % static_cast<uint64_t>(kMax - kMin + 1));
  system_clock::time_point instant{seconds(kMin + offset)};
  checkRoundTrip(instant, "instant " + ticks(instant));
  return 0;
}
