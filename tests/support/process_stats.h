#pragma once
// What this process holds, for tests that check nothing piles up:
// process_stats_posix.cpp and process_stats_win32.cpp.
#include <cstddef>

namespace halvix::test {

// Threads of this process.
std::size_t threadCount();
// Resident memory of this process, in KiB.
long residentKiB();
// Descriptors (handles on Windows) this process holds open, to show that
// sockets are closed.
std::size_t openHandles();

}  // namespace halvix::test
