// The path commands that walk a folder and everything below it: tree, du and ls -R. Each walks folder by
// folder and holds only the listings on the way down to the folder it is in, so that a large tree takes
// little memory.
#pragma once

#include <cstdint>
#include <string>

#include "host/commands.h"
#include "host/path_resolver.h"

namespace davfp::cli {

int tree(Context& context, PathResolver& resolver);
int du(Context& context, PathResolver& resolver);
// ls -R: each folder's listing under a "PATH:" line, a blank line between folders.
int lsRecursive(Context& context, PathResolver& resolver);

// What is below a folder: the sum of its files' sizes, how many files and folders.
struct TreeSize {
  int64_t bytes = 0;
  int64_t files = 0;
  int64_t folders = 0;
};

// tree's last line: "1 folder, 3 files".
std::string treeCounts(int64_t folders, int64_t files);

}  // namespace davfp::cli
