#include "modules/zacc/zacc_time.h"

#include <ctime>

#include "modules/common/lua_conv.h"

namespace halvix::modules::zacc {

double unixSeconds(std::uint64_t fileTime) {
  const double high = static_cast<double>(fileTime >> 32);
  const double low = static_cast<double>(fileTime & 0xffffffffu);
  return high * 429.4967296 + low / 10000000.0 - 11644473600.0;
}

std::int64_t unixMilliseconds(std::uint64_t fileTime) {
  return toInt64(static_cast<double>(fileTime) - 116444736000000000.0) / 10000;
}

std::int64_t standardOffsetAt(std::int64_t t) {
  const std::time_t when = static_cast<std::time_t>(t);
  std::tm utc{};
  std::tm local{};
  if (!gmtime_r(&when, &utc) || !localtime_r(&when, &local)) return 0;
  // The broken-down UTC time carries no daylight-saving flag, so mktime reads
  // it as local standard time.
  utc.tm_isdst = 0;
  const std::time_t g = std::mktime(&utc);
  const std::time_t l = std::mktime(&local);
  if (g == static_cast<std::time_t>(-1) || l == static_cast<std::time_t>(-1)) return 0;
  return static_cast<std::int64_t>(l) - static_cast<std::int64_t>(g);
}

}  // namespace halvix::modules::zacc
