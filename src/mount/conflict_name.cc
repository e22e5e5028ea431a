#include "mount/conflict_name.h"

namespace davfp::mount {

std::string conflictName(const std::string& name, std::time_t when) {
  std::tm local{};
  ::localtime_r(&when, &local);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H%M%S", &local);
  auto dot = name.rfind('.');
  if (dot == std::string::npos || dot == 0) dot = name.size();
  return name.substr(0, dot) + " (conflict " + stamp + ")" + name.substr(dot);
}

}  // namespace davfp::mount
