#include "platform/thread_priority.h"

#include <pthread.h>
#include <sched.h>

namespace halvix::platform {

bool lowerThreadToIdle(std::uintptr_t thread) {
  // Lowering needs no privilege; only the idle class's priority, 0, is valid.
  const sched_param parameter{};
  return pthread_setschedparam(static_cast<pthread_t>(thread), SCHED_IDLE, &parameter) == 0;
}

}  // namespace halvix::platform
