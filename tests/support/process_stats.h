#pragma once
// What this process holds, for tests that check nothing piles up.
#include <cstddef>

namespace halvix::test {

// Threads of this process.
std::size_t threadCount();
// Resident memory of this process, in KiB.
long residentKiB();

}  // namespace halvix::test
