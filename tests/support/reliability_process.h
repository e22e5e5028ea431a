// What the test process holds right now, from /proc: memory, threads and open file descriptors, for tests
// that prove bounds and the absence of leaks. Thread-safe (each call reads /proc afresh).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace davfp::testing {

// Memory that the address sanitizer keeps resident after it is freed (its quarantine, 256 MiB by default), for
// bounds on resident memory that must hold in its builds too.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr uint64_t kFreedButResident = 288ull << 20;
#else
inline constexpr uint64_t kFreedButResident = 0;
#endif

// Resident memory now, in bytes.
uint64_t residentBytes();
// The most resident memory the process has had so far, in bytes.
uint64_t peakResidentBytes();
// Threads of the process.
size_t threadCount();
// The process's open file descriptors, each as "fd -> what it refers to".
std::vector<std::string> openDescriptors();

}  // namespace davfp::testing
