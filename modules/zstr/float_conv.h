#pragma once
// Double to single precision with IEEE round-to-nearest, including overflow
// to infinity. A plain cast is undefined for values beyond the float range.
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

namespace halvix::modules::zstr {

inline float toSingle(double x) {
  // Half an ulp above FLT_MAX: from here on (ties to even) the result is infinite.
  constexpr double kOverflow = 0x1.ffffffp127;
  constexpr double kMax = std::numeric_limits<float>::max();
  if (std::isnan(x)) return static_cast<float>(x);
  constexpr float kInf = std::numeric_limits<float>::infinity();
  if (std::fabs(x) >= kOverflow) return x > 0 ? kInf : -kInf;
  if (std::fabs(x) > kMax) return x > 0 ? static_cast<float>(kMax) : -static_cast<float>(kMax);
  return static_cast<float>(x);
}

inline std::uint32_t singleBits(double x) { return std::bit_cast<std::uint32_t>(toSingle(x)); }

}  // namespace halvix::modules::zstr
