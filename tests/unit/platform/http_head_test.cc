#include "platform/http_head.h"

#include <gtest/gtest.h>

namespace davfp::platform {
namespace {

TEST(ResponseHeadTest, KeepsOnlyTheLatestResponsesFields) {
  ResponseHead head;
  for (const char* line : {"HTTP/1.1 100 Continue\r\n", "\r\n"}) head.addLine(line);
  EXPECT_TRUE(head.informational());
  for (const char* line :
       {"HTTP/1.1 401 Unauthorized\r\n", "WWW-Authenticate: Digest realm=\"r\"\r\n", "\r\n",
        "HTTP/1.1 207 Multi-Status\r\n", "Content-Type:  text/xml ; charset=utf-8 \r\n", "X-Folded: one\r\n",
        "\t two\r\n", "Empty:\r\n", "no colon here\r\n", "\r\n", "X-Trailer: after the body\r\n"}) {
    head.addLine(line);
  }
  EXPECT_TRUE(head.complete());
  EXPECT_FALSE(head.informational());
  EXPECT_EQ(head.status(), 207);
  HeaderList expected = {
      {"Content-Type", "text/xml ; charset=utf-8"}, {"X-Folded", "one two"}, {"Empty", ""}};
  EXPECT_EQ(head.headers(), expected);
  HttpResponse response{.status = 207, .headers = expected};
  EXPECT_EQ(response.header("content-TYPE"), "text/xml ; charset=utf-8");
  EXPECT_EQ(response.header("X-Fold"), std::nullopt);
}

}  // namespace
}  // namespace davfp::platform
