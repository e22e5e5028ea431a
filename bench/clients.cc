#include "clients.h"

#include <filesystem>

#include "child_process.h"

namespace davfp::bench {

std::vector<std::string> curlPropfind(const std::string& url, int depth, const std::string& bodyFile) {
  return {"curl", "-s", "-f", "-o", "/dev/null", "-X", "PROPFIND", "-H", "Depth: " + std::to_string(depth),
          "-H", "Content-Type: text/xml", "--data-binary", "@" + bodyFile, url};
}

std::vector<std::string> rcloneLsjson(const std::string& url, const std::string& configFile,
                                      const std::string& cacheDir) {
  return {"rclone", "lsjson", ":webdav:", "--webdav-url", url, "--config", configFile, "--cache-dir", cacheDir};
}

std::string davfpProgram() {
  auto program = std::filesystem::path(selfPath()).parent_path().parent_path() / "src" / "host" / "davfp";
  return std::filesystem::exists(program) ? program.string() : std::string();
}

}  // namespace davfp::bench
