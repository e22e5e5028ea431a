// Sets environment variables for the lifetime of a test and restores their previous values afterwards.
// Not thread-safe: use it on the test's own thread before anything else reads the environment.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace davfp::testing {

class ScopedEnv {
 public:
  ScopedEnv() = default;
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

  // Sets name to value, or removes it when value is none.
  void set(const std::string& name, std::optional<std::string> value);

 private:
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;  // oldest first
};

}  // namespace davfp::testing
