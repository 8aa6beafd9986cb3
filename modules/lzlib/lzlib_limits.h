#pragma once
#include <cstddef>

namespace halvix::modules::lzlib {

// Inflated output is capped so that a small corrupt or hostile stream cannot
// exhaust memory.
inline constexpr std::size_t kMaxInflated = std::size_t{64} << 20;

}  // namespace halvix::modules::lzlib
