#include "platform/system_clock.h"

#include <ctime>

namespace halvix::platform {

namespace {
// Seconds from 1601-01-01 to 1970-01-01.
constexpr std::uint64_t kEpochDelta = 11644473600ULL;
}  // namespace

std::uint64_t fileTimeNow() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  // Clamped so that a clock set before 1601 cannot wrap around.
  const std::int64_t secs = static_cast<std::int64_t>(ts.tv_sec) + static_cast<std::int64_t>(kEpochDelta);
  if (secs < 0) return 0;
  return static_cast<std::uint64_t>(secs) * 10000000ULL + static_cast<std::uint64_t>(ts.tv_nsec) / 100ULL;
}

}  // namespace halvix::platform
