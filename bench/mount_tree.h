// The folders the mount workloads serve and write: trees of small files, a tarball of many small files, and
// what a served folder holds. Plain functions; they throw std::runtime_error when the disk refuses.
#pragma once

#include <cstdint>
#include <string>

namespace davfp::bench {

// Creates dir with folders subfolders ("d0000", ...) of files files each (see makeFolder).
void makeTree(const std::string& dir, int folders, int files);

// Creates dir with folders subfolders of files files each, of 1 to 15 KiB (8 KiB on average, sizes vary).
void makeSmallFiles(const std::string& dir, int folders, int files);

// How many files a tree holds and their bytes together; zero for a folder that is not there.
struct TreeCount {
  long files = 0;
  int64_t bytes = 0;
  bool operator==(const TreeCount&) const = default;
};
TreeCount countTree(const std::string& dir);

}  // namespace davfp::bench
