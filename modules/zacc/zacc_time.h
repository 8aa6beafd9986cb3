#pragma once
// Time values of zacc, computed from a FILETIME count (100-ns intervals since
// 1601-01-01 UTC) so that they can be checked against fixed instants.
#include <cstdint>

namespace halvix::modules::zacc {

// Seconds since 1970-01-01 UTC with fraction.
double unixSeconds(std::uint64_t fileTime);

// Whole milliseconds since 1970-01-01 UTC.
std::int64_t unixMilliseconds(std::uint64_t fileTime);

// Offset of local standard time from UTC in seconds at the instant t (seconds
// since 1970), positive east of Greenwich; daylight saving is not counted.
// 64-bit throughout, so it stays right after 2038.
std::int64_t standardOffsetAt(std::int64_t t);

}  // namespace halvix::modules::zacc
