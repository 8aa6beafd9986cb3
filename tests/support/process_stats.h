#pragma once
// What this process holds, for tests that check nothing piles up:
// process_stats_posix.cpp and process_stats_win32.cpp.
#include <cstddef>

namespace halvix::test {

// Threads of this process.
std::size_t threadCount();
// Resident memory of this process, in KiB.
long residentKiB();
// The heap checks what is freed: it fills each freed block and holds the
// latest ones back from reuse (Windows' debug heap, Wine's under
// WINEDEBUG=warn+heap), so that resident size keeps what was freed.
bool heapChecksFrees();
// Descriptors (handles on Windows) this process holds open, to show that
// sockets are closed.
std::size_t openHandles();

}  // namespace halvix::test
