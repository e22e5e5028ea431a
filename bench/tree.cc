#include "tree.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <string_view>
#include <vector>

namespace davfp::bench {

namespace {

std::runtime_error failure(const std::string& what) {
  return std::runtime_error(what + ": " + std::strerror(errno));
}

void writeAll(int fd, std::string_view bytes, const std::string& path) {
  while (!bytes.empty()) {
    ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw failure("write " + path);
    bytes.remove_prefix(static_cast<size_t>(n));
  }
}

void writeNew(const std::string& path, std::string_view bytes, int flags) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | flags, 0644);
  if (fd < 0) throw failure("open " + path);
  try {
    writeAll(fd, bytes, path);
  } catch (...) {
    ::close(fd);
    throw;
  }
  if (::close(fd) != 0) throw failure("close " + path);
}

}  // namespace

std::string fileName(int i) {
  char name[32];
  std::snprintf(name, sizeof name, "file-%06d.txt", i);
  return name;
}

void makeFolder(const std::string& dir, int count) {
  std::filesystem::create_directories(dir);
  std::string contents(1024, 'x');
  for (int i = 0; i < count; ++i) {
    writeNew(dir + "/" + fileName(i), std::string_view(contents).substr(0, 100 + (i * 37) % 900), O_TRUNC);
  }
}

void makeFile(const std::string& path, int64_t size) {
  std::vector<char> block(4 << 20);
  for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>('a' + (i * 7 + i / 4096) % 26);
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) throw failure("open " + path);
  try {
    for (int64_t left = size; left > 0;) {
      size_t n = static_cast<size_t>(std::min<int64_t>(left, static_cast<int64_t>(block.size())));
      writeAll(fd, std::string_view(block.data(), n), path);
      left -= static_cast<int64_t>(n);
    }
  } catch (...) {
    ::close(fd);
    throw;
  }
  if (::close(fd) != 0) throw failure("close " + path);
}

void appendTo(const std::string& path, const std::string& bytes) { writeNew(path, bytes, O_APPEND); }

}  // namespace davfp::bench
