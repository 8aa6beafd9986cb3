#pragma once
// Inside the engine stand-in: handing memory the process has freed back to
// the system, once clients that held much have drained or gone, so that what
// a client made the host take does not stay with the host after it.
// heap_release_posix.cpp on POSIX systems, heap_release_win32.cpp on Windows.

namespace halvix::flutter_engine {

// Any thread; costs a walk over the allocator's free lists.
void releaseFreedHeap();

}  // namespace halvix::flutter_engine
