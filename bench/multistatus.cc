#include "multistatus.h"

#include <cstdio>

#include "tree.h"

namespace davfp::bench {

std::string apacheListing(const std::string& urlPath, int files) {
  std::string body =
      "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
      "<D:multistatus xmlns:D=\"DAV:\" xmlns:ns0=\"DAV:\">\n"
      "<D:response xmlns:lp1=\"DAV:\" xmlns:lp2=\"http://apache.org/dav/props/\" xmlns:g0=\"DAV:\">\n"
      "<D:href>" + urlPath + "</D:href>\n"
      "<D:propstat>\n<D:prop>\n<lp1:resourcetype><D:collection/></lp1:resourcetype>\n"
      "<lp1:getlastmodified>Sun, 06 Dec 2026 09:03:02 GMT</lp1:getlastmodified>\n"
      "<lp1:getetag>W/\"1000-661f3606c3d95\"</lp1:getetag>\n</D:prop>\n"
      "<D:status>HTTP/1.1 200 OK</D:status>\n</D:propstat>\n"
      "<D:propstat>\n<D:prop>\n<g0:getcontentlength/>\n</D:prop>\n"
      "<D:status>HTTP/1.1 404 Not Found</D:status>\n</D:propstat>\n</D:response>\n";
  body.reserve(body.size() + static_cast<size_t>(files) * 480);
  char entry[640];
  for (int i = 0; i < files; ++i) {
    int size = 100 + (i * 37) % 900;
    int seconds = i % 60, minutes = (i / 60) % 60, hours = (i / 3600) % 24;
    int n = std::snprintf(entry, sizeof entry,
                          "<D:response xmlns:lp1=\"DAV:\" xmlns:lp2=\"http://apache.org/dav/props/\">\n"
                          "<D:href>%s%s</D:href>\n"
                          "<D:propstat>\n<D:prop>\n<lp1:resourcetype/>\n"
                          "<lp1:getcontentlength>%d</lp1:getcontentlength>\n"
                          "<lp1:getlastmodified>Sun, 06 Dec 2026 %02d:%02d:%02d GMT</lp1:getlastmodified>\n"
                          "<lp1:getetag>\"%x-661f%09x\"</lp1:getetag>\n"
                          "</D:prop>\n<D:status>HTTP/1.1 200 OK</D:status>\n</D:propstat>\n</D:response>\n",
                          urlPath.c_str(), fileName(i).c_str(), size, hours, minutes, seconds, size,
                          0x3606c3d + i * 7919);
    body.append(entry, static_cast<size_t>(n));
  }
  body += "</D:multistatus>\n";
  return body;
}

}  // namespace davfp::bench
