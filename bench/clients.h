// The other clients the workloads compare with, as command lines: curl sending the engine's PROPFIND,
// rclone listing through its WebDAV backend. Pure functions.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace davfp::bench {

// The body the engine sends with every PROPFIND: the same four properties.
inline constexpr std::string_view kPropfindBody =
    "<?xml version=\"1.0\"?><D:propfind xmlns:D=\"DAV:\"><D:prop><D:resourcetype/><D:getcontentlength/>"
    "<D:getlastmodified/><D:getetag/></D:prop></D:propfind>";

// curl sending that PROPFIND with the given depth (bodyFile holds kPropfindBody), discarding the answer.
std::vector<std::string> curlPropfind(const std::string& url, int depth, const std::string& bodyFile);

// rclone listing a folder as JSON (configFile: an empty rclone configuration; cacheDir: its own).
std::vector<std::string> rcloneLsjson(const std::string& url, const std::string& configFile,
                                      const std::string& cacheDir);

// The davfp program next to this build's davfp-bench, when it has been built.
std::string davfpProgram();

}  // namespace davfp::bench
