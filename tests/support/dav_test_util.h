// Helpers shared by the tests of the WebDAV client and of what it serves: catching the DavError of a call,
// and multistatus bodies as servers send them.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "dav/dav_error.h"
#include "platform/error.h"

namespace davfp {
// Failure messages show a DavError by its text (also inside an optional).
inline void PrintTo(const DavError& error, std::ostream* out) { *out << error.what(); }
}  // namespace davfp

namespace davfp::testing {

// The DavError that f throws; fails the test when it throws nothing (anything else escapes, failing it too).
template <class F>
std::optional<DavError> davErrorOf(F&& f) {
  try {
    f();
  } catch (const DavError& e) {
    return e;
  }
  ADD_FAILURE() << "nothing thrown";
  return std::nullopt;
}

inline void expectError(const std::optional<platform::Error>& error, std::string_view domain, long code) {
  ASSERT_TRUE(error.has_value()) << "expected " << domain << " " << code << ", got success";
  EXPECT_TRUE(error->is(domain, code)) << "expected " << domain << " " << code << ", got " << error->what();
}

// One response of a multistatus body. A folder has no getcontentlength; none leaves a property out.
struct Listed {
  std::string href;  // as the server writes it: percent-encoded, no XML escapes needed
  bool dir = false;
  int64_t size = 0;
  std::optional<std::string> etag;
  std::optional<std::string> modified;
};

// The bounds of a multistatus body, for bodies written piece by piece.
inline constexpr std::string_view kMultistatusOpen =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?><D:multistatus xmlns:D=\"DAV:\">";
inline constexpr std::string_view kMultistatusClose = "</D:multistatus>";

// One response element as a hostile server may write it: the length is any text (none: left out).
inline std::string rawResponse(const std::string& href, bool folder, std::optional<std::string> length = {},
                               std::optional<std::string> etag = "\"e\"",
                               std::optional<std::string> modified = std::nullopt) {
  return "<D:response><D:href>" + href + "</D:href><D:propstat><D:prop><D:resourcetype>" +
         (folder ? "<D:collection/>" : "") + "</D:resourcetype>" +
         (length ? "<D:getcontentlength>" + *length + "</D:getcontentlength>" : "") +
         (etag ? "<D:getetag>" + *etag + "</D:getetag>" : "") +
         (modified ? "<D:getlastmodified>" + *modified + "</D:getlastmodified>" : "") +
         "</D:prop><D:status>HTTP/1.1 200 OK</D:status></D:propstat></D:response>";
}

// A multistatus body of response elements as they are.
inline std::string multistatusOf(const std::vector<std::string>& responses) {
  std::string body(kMultistatusOpen);
  for (const auto& r : responses) body += r;
  return body + std::string(kMultistatusClose);
}

inline std::string multistatus(const std::vector<Listed>& entries) {
  std::vector<std::string> responses;
  for (const auto& e : entries) {
    responses.push_back(rawResponse(e.href, e.dir, e.dir ? std::nullopt : std::optional(std::to_string(e.size)),
                                    e.etag, e.modified));
  }
  return multistatusOf(responses);
}

}  // namespace davfp::testing
