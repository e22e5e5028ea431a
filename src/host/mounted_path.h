// Where a path given to pin, unpin or evict lies in a mounted drive's folder. A path that exists and lies in
// the folder of a mounted drive is taken as it is; anything else is a drive path ("/Reports/x.txt", the
// leading "/" optional), found under the folder where the chosen drive (--domain, or the only one) is
// mounted. Throws Failure when that drive is not mounted or holds no such item, UsageError for a drive path
// that climbs out of the drive ("..").
#pragma once

#include <optional>
#include <string>

#include "platform/env.h"

namespace davfp::cli {

std::string mountedPath(const std::string& path, const std::optional<std::string>& domain,
                        platform::Env& env);

}  // namespace davfp::cli
