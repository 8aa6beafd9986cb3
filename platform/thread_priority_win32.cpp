#include "platform/thread_priority.h"

#include <windows.h>

namespace halvix::platform {

bool lowerThreadToIdle(std::uintptr_t thread) {
  return SetThreadPriority(reinterpret_cast<HANDLE>(thread), THREAD_PRIORITY_IDLE) != 0;
}

}  // namespace halvix::platform
