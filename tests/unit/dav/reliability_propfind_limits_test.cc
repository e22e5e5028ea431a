// The parser's memory bounds against hostile bodies: whatever a body holds, the parse ends within a bounded
// number of bytes of the point where it would start to hold more than a value, and keeps what came before.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dav/propfind_parser.h"

namespace davfp {
namespace {

constexpr size_t kMiB = 1 << 20;

const std::string kHead =
    "<?xml version=\"1.0\"?><D:multistatus "
    "xmlns:D=\"DAV:\"><D:response><D:href>/dav/kept</D:href></D:response>";

std::string repeated(std::string_view piece, size_t bytes) {
  std::string out;
  while (out.size() < bytes) out += piece;
  return out;
}

std::vector<std::string> paths(const std::vector<DavEntry>& entries) {
  std::vector<std::string> out;
  for (const auto& e : entries) out.push_back(e.path);
  return out;
}

TEST(PropfindLimitsTest, HostileBodiesEndTheParseWithinBoundedInput) {
  struct Case {
    const char* what;
    std::string open;    // after kHead
    std::string filler;  // then this, again and again
  } cases[] = {
      {"an endless element name", "<D:", "n"},
      {"an endless comment", "<!--", "c"},
      {"endless nesting of elements that are read", "<D:response>", "<D:href>"},
      {"an endless href", "<D:response><D:href>/dav/", "h"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    PropfindParser parser("/dav");
    parser.feed(kHead + c.open);
    const std::string piece = repeated(c.filler, 64 * 1024);
    size_t fed = 0;
    while (!parser.stopped() && fed < 64 * kMiB) {
      parser.feed(piece);
      fed += piece.size();
    }
    EXPECT_TRUE(parser.stopped());
    EXPECT_LE(fed, kMiB + piece.size()) << "still reading after " << fed / 1024 << " KiB";
    EXPECT_EQ(paths(parser.finish()), std::vector<std::string>{"/kept"});
    EXPECT_FALSE(parser.complete());
  }
}

}  // namespace
}  // namespace davfp
