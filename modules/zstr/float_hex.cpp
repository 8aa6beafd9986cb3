#include <bit>
#include <cstdint>
#include <cstdio>

#include "modules/common/single_float.h"
#include "modules/zstr/zstr.h"

namespace halvix::modules::zstr {

int float2hex(lua_State* L) {
  char text[9];
  std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(singleBits(luaL_checknumber(L, 1))));
  lua_pushlstring(L, text, 8);
  return 1;
}

namespace {

// Upper-case hexadecimal decodes exactly; other characters keep the
// arithmetic of the digit rule (letters are shifted down by 7).
unsigned digitValue(unsigned char c) { return c <= '9' ? c : c - 7u; }

}  // namespace

int hex2float(lua_State* L) {
  std::size_t n = 0;
  const auto* s = reinterpret_cast<const unsigned char*>(luaL_checklstring(L, 1, &n));
  luaL_argcheck(L, n >= 8, 1, "at least 8 hexadecimal digits expected");
  std::uint32_t bits = 0;
  for (int pair = 0; pair < 4; ++pair) {
    const unsigned high = (digitValue(s[2 * pair]) & 0x0F) << 4;
    const unsigned low = (digitValue(s[2 * pair + 1]) - 0x30u) & 0xFF;
    bits = (bits << 8) | ((high | low) & 0xFF);
  }
  lua_pushnumber(L, static_cast<lua_Number>(std::bit_cast<float>(bits)));
  return 1;
}

}  // namespace halvix::modules::zstr
