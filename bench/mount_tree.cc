#include "mount_tree.h"

#include <cstdio>
#include <filesystem>

#include "support/temp_dir.h"
#include "tree.h"

namespace davfp::bench {

namespace fs = std::filesystem;

namespace {

std::string folderName(int i) {
  char name[16];
  std::snprintf(name, sizeof name, "d%04d", i);
  return name;
}

}  // namespace

void makeTree(const std::string& dir, int folders, int files) {
  for (int i = 0; i < folders; ++i) makeFolder(dir + "/" + folderName(i), files);
}

void makeSmallFiles(const std::string& dir, int folders, int files) {
  const std::string pattern(16 * 1024, 's');
  for (int i = 0; i < folders; ++i) {
    const std::string folder = dir + "/" + folderName(i);
    fs::create_directories(folder);
    for (int j = 0; j < files; ++j) {
      // 1 KiB to 15 KiB, spread evenly: 8 KiB on average.
      size_t size = 1024 + static_cast<size_t>((i * files + j) * 7919 % (14 * 1024 + 1));
      testing::writeFile(folder + "/" + fileName(j), pattern.substr(0, size));
    }
  }
}

TreeCount countTree(const std::string& dir) {
  TreeCount count;
  std::error_code ec;
  for (fs::recursive_directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code sizeError;
    if (!it->is_regular_file(sizeError)) continue;
    auto size = it->file_size(sizeError);
    if (sizeError) continue;  // removed meanwhile
    ++count.files;
    count.bytes += static_cast<int64_t>(size);
  }
  return count;
}

}  // namespace davfp::bench
