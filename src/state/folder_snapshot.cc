#include "state/folder_snapshot.h"

namespace davfp {

FolderSnapshot::FolderSnapshot(
    std::initializer_list<std::pair<std::string_view, std::string_view>> children) {
  for (const auto& [path, version] : children) add(path, version);
}

}  // namespace davfp
