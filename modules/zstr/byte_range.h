#pragma once
// The i..j range rule shared by the checksums, zcrypt1 and ztab2str: Lua
// string positions (negative counts from the end), clamped to 1..n.
#include <cstddef>
#include <cstdint>

#include "modules/common/lua_conv.h"

namespace halvix::modules::zstr {

struct Range {
  std::size_t first = 0;  // 0-based offset of the first element
  std::size_t count = 0;  // 0 for an empty range
};

inline Range clampRange(std::size_t n, std::int64_t i, std::int64_t j) {
  // n stays far below 2^62, so these additions cannot overflow.
  const auto len = static_cast<std::int64_t>(n);
  if (i < 0) i = i + len + 1 < 0 ? 0 : i + len + 1;
  if (j < 0) j = j + len + 1 < 0 ? 0 : j + len + 1;
  if (i < 1) i = 1;
  if (j > len) j = len;
  if (i > j) return {};
  return {static_cast<std::size_t>(i - 1), static_cast<std::size_t>(j - i + 1)};
}

// Reads the optional i and j arguments at positions arg and arg + 1.
inline Range optRange(lua_State* L, int arg, std::size_t n) {
  return clampRange(n, optInt64(L, arg, 1), optInt64(L, arg + 1, -1));
}

}  // namespace halvix::modules::zstr
