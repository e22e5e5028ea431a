// A private temporary directory for one test, removed with everything in it when the test ends.
#pragma once

#include <cstddef>
#include <string>

namespace davfp::testing {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Reads a whole file; throws std::runtime_error when it cannot.
std::string readFile(const std::string& path);
// Writes a whole file; throws std::runtime_error when it cannot.
void writeFile(const std::string& path, const std::string& bytes);
bool fileExists(const std::string& path);
// n bytes of every value, that differ from place to place (and with the seed), so that a shifted or cut copy
// never passes for the whole.
std::string patterned(size_t n, int seed = 0);

}  // namespace davfp::testing
