#include "platform/system_clock.h"

#include <windows.h>

namespace halvix::platform {

std::uint64_t fileTimeNow() {
  FILETIME now{};
  ::GetSystemTimePreciseAsFileTime(&now);
  return (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

}  // namespace halvix::platform
