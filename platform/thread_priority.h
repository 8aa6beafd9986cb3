#pragma once
// Lowering a thread that the program has given up on, so that whatever it
// still runs takes only time no one else wants.
#include <cstdint>

namespace halvix::platform {

// Moves the thread to the idle scheduling class (SCHED_IDLE here,
// THREAD_PRIORITY_IDLE on Windows). `thread` is the native handle: a
// pthread_t, or a thread HANDLE on Windows. False when the system refused.
bool lowerThreadToIdle(std::uintptr_t thread);

}  // namespace halvix::platform
