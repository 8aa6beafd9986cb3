#include <cstdint>

#include "modules/zstr/byte_range.h"
#include "modules/zstr/zstr.h"

namespace halvix::modules::zstr {

// One byte per element t[i]..t[j]; an element outside 0..255 is reported as
// a bad argument numbered by its index.
int ztab2str(lua_State* L) {
  luaL_checktype(L, 1, LUA_TTABLE);
  const Range range = optRange(L, 2, lua_objlen(L, 1));
  luaL_Buffer out;
  luaL_buffinit(L, &out);
  for (std::size_t k = range.first + 1; k <= range.first + range.count; ++k) {
    lua_rawgeti(L, 1, static_cast<int>(k));
    const int index = static_cast<int>(k);
    if (!lua_isnumber(L, -1)) {
      luaL_argerror(L, index, lua_pushfstring(L, "number expected, got %s", luaL_typename(L, -1)));
    }
    const auto value = static_cast<std::int32_t>(static_cast<std::uint32_t>(toInt64(lua_tonumber(L, -1))));
    lua_pop(L, 1);
    if (value < 0 || value > 255) luaL_argerror(L, index, "invalid value");
    luaL_addchar(&out, static_cast<char>(value));
  }
  luaL_pushresult(&out);
  return 1;
}

}  // namespace halvix::modules::zstr
