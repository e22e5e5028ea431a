// Helpers shared by the WebDAV client's tests: catching the DavError of a call, and multistatus bodies.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "dav/entry.h"

namespace davfp::test {

// The DavError that f throws; fails the test when it throws nothing or something else.
template <class F>
std::optional<DavError> davErrorOf(F&& f) {
  try {
    f();
  } catch (const DavError& e) {
    return e;
  } catch (const std::exception& e) {
    ADD_FAILURE() << "unexpected exception: " << e.what();
    return std::nullopt;
  }
  ADD_FAILURE() << "nothing thrown";
  return std::nullopt;
}

// One response of a multistatus body.
struct Listed {
  std::string href;
  bool dir = false;
  int64_t size = 0;
  std::string etag;  // none when empty
};

inline std::string multistatus(const std::vector<Listed>& entries) {
  std::string body = "<?xml version=\"1.0\" encoding=\"utf-8\"?><D:multistatus xmlns:D=\"DAV:\">";
  for (const auto& e : entries) {
    body += "<D:response><D:href>" + e.href + "</D:href><D:propstat><D:prop>";
    body += e.dir ? "<D:resourcetype><D:collection/></D:resourcetype>" : "<D:resourcetype/>";
    body += "<D:getcontentlength>" + std::to_string(e.size) + "</D:getcontentlength>";
    if (!e.etag.empty()) body += "<D:getetag>" + e.etag + "</D:getetag>";
    body += "</D:prop><D:status>HTTP/1.1 200 OK</D:status></D:propstat></D:response>";
  }
  return body + "</D:multistatus>";
}

}  // namespace davfp::test
