#include <cstdint>

#include "modules/zstr/byte_range.h"
#include "modules/zstr/crc.h"
#include "modules/zstr/zstr.h"

namespace halvix::modules::zstr {
namespace {

// init as optInt64 reads it, in one call of the Lua API for any value but 0:
// applications checksum short strings in loops, where each call counts.
std::int64_t initArgument(lua_State* L) {
  const lua_Number init = lua_tonumber(L, 1);
  if (init == 0 && !lua_isnumber(L, 1) && !lua_isnoneornil(L, 1)) return checkInt64(L, 1);  // raises
  return toInt64(init);
}

// Arguments: init (default 0; its low bits are the running value), s, i, j.
template <typename T, T (*Update)(T, const unsigned char*, std::size_t)>
int crcFunction(lua_State* L) {
  const int top = lua_gettop(L);
  const auto init = static_cast<std::uint64_t>(initArgument(L));
  std::size_t n = 0;
  const auto* s = reinterpret_cast<const unsigned char*>(luaL_checklstring(L, 2, &n));
  const Range range = top >= 3 ? optRange(L, 3, n) : Range{0, n};
  const T crc = Update(static_cast<T>(init), s + range.first, range.count);
  lua_pushnumber(L, static_cast<lua_Number>(crc));
  return 1;
}

}  // namespace

int zcrc8(lua_State* L) { return crcFunction<std::uint8_t, crc8>(L); }
int zcrc16(lua_State* L) { return crcFunction<std::uint16_t, crc16>(L); }
int zcrcA001(lua_State* L) { return crcFunction<std::uint16_t, crcA001>(L); }
int zcrc32(lua_State* L) { return crcFunction<std::uint32_t, crc32NoInvert>(L); }

}  // namespace halvix::modules::zstr
