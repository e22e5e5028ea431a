// UUID text as the platform writes it: 36 characters, upper-case hexadecimal in groups of 8-4-4-4-12.
#pragma once

#include <string>

namespace davfp::platform {

// A fresh random (version 4) UUID. Thread-safe; each thread draws from its own generator seeded by the OS.
std::string uuidString();

}  // namespace davfp::platform
