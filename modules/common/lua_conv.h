#pragma once
// Number conversions shared by the native modules. Lua numbers are doubles;
// a native function that needs an integer truncates toward zero, and a value
// outside the target range (or NaN) becomes the range's minimum. Casting an
// out-of-range double to an integer type is undefined in C++, so every
// conversion checks the range first.
#include <cmath>
#include <cstdint>

#include <lua.hpp>

namespace halvix::modules {

inline std::int32_t toInt32(double x) {
  if (!(x > -2147483649.0 && x < 2147483648.0)) return INT32_MIN;  // also NaN
  return static_cast<std::int32_t>(x);
}

inline std::int64_t toInt64(double x) {
  // 2^63 is exactly representable; every double below it and above -2^63-1 fits.
  if (!(x >= -9223372036854775808.0 && x < 9223372036854775808.0)) return INT64_MIN;
  return static_cast<std::int64_t>(x);
}

inline std::int32_t checkInt32(lua_State* L, int arg) { return toInt32(luaL_checknumber(L, arg)); }
inline std::int64_t checkInt64(lua_State* L, int arg) { return toInt64(luaL_checknumber(L, arg)); }
inline std::int32_t optInt32(lua_State* L, int arg, std::int32_t def) {
  return lua_isnoneornil(L, arg) ? def : checkInt32(L, arg);
}
inline std::int64_t optInt64(lua_State* L, int arg, std::int64_t def) {
  return lua_isnoneornil(L, arg) ? def : checkInt64(L, arg);
}

}  // namespace halvix::modules
