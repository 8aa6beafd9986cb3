#pragma once
// Double to single precision as the processor's conversion does it: round to
// nearest, overflow to infinity, and a NaN keeps its sign and the top of its
// payload. A plain cast of a value beyond the float range is undefined in
// C++, so the range is checked first.
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

namespace halvix::modules {

inline float toSingle(double x) {
  // Half an ulp above FLT_MAX: from here on (ties to even) the result is infinite.
  constexpr double kOverflow = 0x1.ffffffp127;
  constexpr double kMax = std::numeric_limits<float>::max();
  constexpr float kInf = std::numeric_limits<float>::infinity();
  if (std::isnan(x)) return static_cast<float>(x);
  if (std::fabs(x) >= kOverflow) return x > 0 ? kInf : -kInf;
  if (std::fabs(x) > kMax) return x > 0 ? static_cast<float>(kMax) : -static_cast<float>(kMax);
  return static_cast<float>(x);
}

// The IEEE 754 single-precision bit pattern of x rounded as above.
inline std::uint32_t singleBits(double x) { return std::bit_cast<std::uint32_t>(toSingle(x)); }

}  // namespace halvix::modules
