// The child modes of davfp-bench: one platform request in a process of its own, so that the parent can
// measure the whole process (time, peak memory) the way it measures curl and rclone. They use the standard
// Env; the parent points it at a BenchDrive through the XDG variables and TMPDIR.
#include <cstdio>
#include <ctime>
#include <iostream>

#include <nlohmann/json.hpp>

#include "platform/env.h"
#include "platform_calls.h"
#include "provider/extension.h"
#include "workloads.h"

namespace davfp::bench {

namespace {

std::shared_ptr<FileProviderExtension> standardExtension() {
  return FileProviderExtension::create(platform::Domain{"bench", "Bench"}, platform::Env::standard());
}

std::string rfc3339(platform::Date date) {
  std::time_t t = std::chrono::system_clock::to_time_t(date);
  std::tm tm{};
  gmtime_r(&t, &tm);
  char buffer[32];
  std::strftime(buffer, sizeof buffer, "%Y-%m-%dT%H:%M:%SZ", &tm);
  return buffer;
}

// One item as one JSON line, with the fields a platform shows.
void printItem(const platform::ItemProtocol& item, std::FILE* out) {
  nlohmann::json j = {{"id", item.itemIdentifier()},
                      {"parent", item.parentItemIdentifier()},
                      {"name", item.filename()},
                      {"type", item.contentType().value_or("")},
                      {"size", nullptr},
                      {"modified", nullptr},
                      {"contentVersion", item.itemVersion().contentVersion},
                      {"metadataVersion", item.itemVersion().metadataVersion},
                      {"capabilities", item.capabilities()}};
  if (auto size = item.documentSize()) j["size"] = *size;
  if (auto modified = item.contentModificationDate()) j["modified"] = rfc3339(*modified);
  std::string line = j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  line += '\n';
  std::fwrite(line.data(), 1, line.size(), out);
}

int failed(const std::exception& e) {
  std::cerr << e.what() << "\n";
  return 1;
}

}  // namespace

int enumerateChild(const std::vector<std::string>& args) {
  if (args.size() != 1) return 2;
  std::string container = args[0] == "root" ? platform::kRootContainerItemIdentifier : args[0];
  try {
    auto ext = standardExtension();
    for (const auto& item : enumerateItems(*ext, container)) printItem(*item, stdout);
    std::fflush(stdout);
    return 0;
  } catch (const std::exception& e) {
    return failed(e);
  }
}

int fetchChild(const std::vector<std::string>& args) {
  if (args.size() != 1) return 2;
  try {
    auto ext = standardExtension();
    // The identifier the platform would have from an earlier enumeration of the file's folder.
    std::string id = ext->state().id(args[0]);
    std::cout << startFetch(*ext, id).get() << std::endl;
    return 0;
  } catch (const std::exception& e) {
    return failed(e);
  }
}

int uploadChild(const std::vector<std::string>& args) {
  if (args.size() != 2) return 2;
  try {
    auto ext = standardExtension();
    ext->dav().upload(args[0], args[1]);
    return 0;
  } catch (const std::exception& e) {
    return failed(e);
  }
}

}  // namespace davfp::bench
