// Folders of files for the servers to serve: made once per workload in its private directory.
// Plain functions; they throw std::runtime_error when the disk refuses.
#pragma once

#include <cstdint>
#include <string>

namespace davfp::bench {

// The name of the i-th file of a generated folder: "file-000042.txt".
std::string fileName(int i);

// Creates dir and count files in it, named by fileName(), of a few hundred bytes each (sizes differ).
void makeFolder(const std::string& dir, int count);

// Writes a file of size bytes (a repeating pattern, not zeros) in pieces of a few MiB.
void makeFile(const std::string& path, int64_t size);

// Appends bytes to an existing file, so that its size, and so its version, changes.
void appendTo(const std::string& path, const std::string& bytes);

}  // namespace davfp::bench
