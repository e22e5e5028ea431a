// PathResolver: finds items by drive path the way a file manager does, by enumerating each folder from the
// root down. Within one command it keeps the listings it made, and for every item it has seen its parent and
// name, so that items reported by identifier (changes) can be shown by path. Failures name the path.
// Not thread-safe: one command on the main thread.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "client/platform_client.h"
#include "host/drive_path.h"

namespace davfp::cli {

bool isFolder(const platform::ItemProtocol& item);

class PathResolver {
 public:
  explicit PathResolver(client::PlatformClient& platform) : platform_(platform) {}

  // The item at path. Throws Failure (no such item) naming the first part of the path that is missing, or
  // (not a directory) naming a file that the path goes through.
  platform::ItemRef resolve(const DrivePath& path);
  // The item at path, or nothing when its last name is missing; its folder must exist (as for resolve).
  platform::ItemRef find(const DrivePath& path);
  // The root folder's item, asked for once per command.
  platform::ItemRef root();
  // The child of a folder with this name: the same bytes if there is one, else a canonically equivalent
  // spelling, as names compare on the platform. Nothing when there is none.
  platform::ItemRef childNamed(const platform::ItemRef& folder, const std::string& name);
  // The folder's children, listed once per command unless forgotten.
  const std::vector<platform::ItemRef>& children(const platform::ItemRef& folder);
  // Drops what is known about a folder's children after the command changed them.
  void forgetChildren(const platform::ItemIdentifier& folder);

  // Records an item's parent and name (enumerated, created, moved or reported changed).
  void learn(const platform::ItemProtocol& item);
  // Drops a deleted item.
  void unlearn(const platform::ItemIdentifier& identifier);
  bool knows(const platform::ItemIdentifier& identifier) const { return places_.contains(identifier); }
  // The path of an item seen before, built from the parents and names seen; none when some ancestor is
  // unknown.
  std::optional<std::string> pathOf(const platform::ItemIdentifier& identifier) const;

 private:
  // find() without naming the path in failures; walked is how far it got.
  platform::ItemRef walk(const DrivePath& path, DrivePath& walked);

  client::PlatformClient& platform_;
  platform::ItemRef root_;
  std::map<platform::ItemIdentifier, std::vector<platform::ItemRef>> listings_;
  struct Place {
    platform::ItemIdentifier parent;
    std::string name;
  };
  std::map<platform::ItemIdentifier, Place> places_;
};

}  // namespace davfp::cli
