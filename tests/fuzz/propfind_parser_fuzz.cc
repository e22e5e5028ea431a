// Fuzzes the PROPFIND parser with hostile bodies. An input is "BASE\nBODY" when it begins with "/" (the base
// path, at most 256 bytes), else a body alone with an empty base path. Checks that
//   - feeding the body in pieces of any size gives exactly the entries of parsing it whole, and the same
//     judgement of whether it was one whole multistatus document;
//   - the base path changes entries' paths only: their number and every other field stay;
//   - every path begins with "/".
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "dav/propfind_parser.h"
#include "fuzz_support.h"

namespace davfp::fuzz {
namespace {

// An entry's fields but its path.
std::string fields(const DavEntry& e) {
  return std::string(e.isDir ? "d " : "f ") + (e.size ? std::to_string(*e.size) : "-") + " " +
         (e.modified ? std::to_string(e.modified->time_since_epoch().count()) : "-") + " " +
         (e.etag ? printable(*e.etag) : "-");
}

// One line per entry; withPaths false leaves the paths out.
std::string describe(const std::vector<DavEntry>& entries, bool withPaths = true) {
  std::string out;
  for (const auto& e : entries) out += (withPaths ? printable(e.path) + " " : "") + fields(e) + "\n";
  return out;
}

// Feeds body in pieces of random sizes, mostly small, sometimes large, and collects entries through a sink.
std::vector<DavEntry> parseInPieces(std::string_view body, std::string_view base, InputRandom& random,
                                    bool& complete) {
  std::vector<DavEntry> out;
  PropfindParser parser(base, [&out](DavEntry&& e) { out.push_back(std::move(e)); });
  while (!body.empty()) {
    size_t n = random.flip() ? 1 + random.below(8) : 1 + random.below(body.size());
    if (n > body.size()) n = body.size();
    parser.feed(body.substr(0, n));
    body.remove_prefix(n);
  }
  FUZZ_CHECK(parser.finish().empty(), "a parser with a sink kept entries");
  complete = parser.complete();
  return out;
}

}  // namespace
}  // namespace davfp::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace davfp;
  using namespace davfp::fuzz;
  std::string_view input(reinterpret_cast<const char*>(data), size);
  auto [base, body] = splitHead(input, "/", 256);
  InputRandom random(input);

  PropfindParser wholeParser(base);
  wholeParser.feed(body);
  std::vector<DavEntry> whole = wholeParser.finish();
  for (const auto& e : whole) FUZZ_CHECK(e.path.starts_with('/'), printable(e.path));

  bool completeInPieces = false;
  std::vector<DavEntry> pieces = parseInPieces(body, base, random, completeInPieces);
  FUZZ_CHECK(describe(whole) == describe(pieces),
             "whole:\n" + describe(whole) + "in pieces:\n" + describe(pieces));
  FUZZ_CHECK(wholeParser.complete() == completeInPieces, "complete whole but not in pieces, or the reverse");

  std::vector<DavEntry> unbased = PropfindParser::parse(body, "");
  FUZZ_CHECK(describe(whole, false) == describe(unbased, false),
             "with the base:\n" + describe(whole) + "without:\n" + describe(unbased));

  return 0;
}
