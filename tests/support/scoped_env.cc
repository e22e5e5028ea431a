#include "support/scoped_env.h"

#include <cstdlib>

namespace davfp::testing {

namespace {

void apply(const std::string& name, const std::optional<std::string>& value) {
  if (value) {
    ::setenv(name.c_str(), value->c_str(), 1);
  } else {
    ::unsetenv(name.c_str());
  }
}

}  // namespace

ScopedEnv::~ScopedEnv() {
  for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) apply(it->first, it->second);
}

void ScopedEnv::set(const std::string& name, std::optional<std::string> value) {
  const char* old = std::getenv(name.c_str());
  saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
  apply(name, value);
}

}  // namespace davfp::testing
