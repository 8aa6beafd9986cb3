#pragma once
// The system clock in the Windows FILETIME base.
#include <cstdint>

namespace halvix::platform {

// Current UTC time as 100-ns intervals since 1601-01-01 00:00:00 UTC.
std::uint64_t fileTimeNow();

}  // namespace halvix::platform
