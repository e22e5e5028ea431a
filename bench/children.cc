// The child modes of davfp-bench: one platform request in a process of its own, so that the parent can
// measure the whole process (time, peak memory) the way it measures curl and rclone. They use the standard
// Env; the parent points it at a BenchDrive through the XDG variables and TMPDIR.
#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "client/platform_client.h"
#include "host/commands.h"
#include "platform/env.h"
#include "platform/mime_registry.h"
#include "drive.h"
#include "provider/extension.h"
#include "workloads.h"

namespace davfp::bench {

namespace {

BenchExtension standardExtension() { return makeExtension(platform::Env::standard()); }

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
    // Printed as the davfp program prints a listing.
    cli::emitItems(client::PlatformClient(ext.ext).enumerate(container));
    // A platform keeps its extension for as long as the process lives: taking the extension, its state and
    // the items apart is no part of answering a listing, so the process ends here.
    std::_Exit(std::ferror(stdout) ? 1 : 0);
  } catch (const std::exception& e) {
    return failed(e);
  }
}

int enumerateTreeChild(const std::vector<std::string>& args) {
  if (!args.empty()) return 2;
  try {
    auto ext = standardExtension();
    client::PlatformClient platform(ext.ext);
    // The root, then every folder it holds, one after another, as a browser of the whole tree would.
    auto items = platform.enumerate(platform::kRootContainerItemIdentifier);
    cli::emitItems(items);
    for (const auto& item : items) {
      if (item->contentType() == platform::kFolderType) cli::emitItems(platform.enumerate(item->itemIdentifier()));
    }
    std::_Exit(std::ferror(stdout) ? 1 : 0);  // as enumerate-child: the process ends with the answer
  } catch (const std::exception& e) {
    return failed(e);
  }
}

int fetchChild(const std::vector<std::string>& args) {
  if (args.size() != 1) return 2;
  try {
    auto ext = standardExtension();
    // The identifier the platform would have from an earlier enumeration of the file's folder.
    std::string id = ext.state->id(args[0]);
    std::cout << client::PlatformClient(ext.ext).fetch(id, std::nullopt).file << std::endl;
    return 0;
  } catch (const std::exception& e) {
    return failed(e);
  }
}

int uploadChild(const std::vector<std::string>& args) {
  if (args.size() != 2) return 2;
  try {
    auto ext = standardExtension();
    // As the platform writes a changed file back: it knows the item, and sends it with its new contents.
    client::PlatformClient platform(ext.ext);
    platform::ItemRef item = platform.item(ext.state->id(args[0]));
    platform.modify(item, item->itemVersion(), platform::field::kContents, args[1]);
    return 0;
  } catch (const std::exception& e) {
    return failed(e);
  }
}

}  // namespace davfp::bench
