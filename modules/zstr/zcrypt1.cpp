#include <cstddef>

#include "modules/zstr/byte_range.h"
#include "modules/zstr/zstr.h"

namespace halvix::modules::zstr {

// Keyed XOR scrambler. The range is cut into blocks of m (key length) bytes;
// each block uses the key rotated by an amount that the key itself drives, so
// applying it twice with the same key restores the data.
int zcrypt1(lua_State* L) {
  std::size_t m = 0;
  const auto* key = reinterpret_cast<const unsigned char*>(luaL_checklstring(L, 1, &m));
  std::size_t n = 0;
  const auto* data = reinterpret_cast<const unsigned char*>(luaL_checklstring(L, 2, &n));
  const Range range = optRange(L, 3, n);
  luaL_argcheck(L, m > 0, 1, "key must not be empty");
  if (range.count == 0) {
    lua_pushnil(L);
    lua_pushliteral(L, "EBA");
    return 2;
  }

  luaL_Buffer out;
  luaL_buffinit(L, &out);
  std::size_t k = 0, c = 0;
  const unsigned char* p = data + range.first;
  std::size_t left = range.count;
  while (left > 0) {
    const std::size_t chunk = left < LUAL_BUFFERSIZE ? left : LUAL_BUFFERSIZE;
    char* dst = luaL_prepbuffer(&out);
    for (std::size_t t = 0; t < chunk; ++t) {
      dst[t] = static_cast<char>(key[k] ^ p[t]);
      ++k;
      ++c;
      if (k == m) k = 0;
      if (c == m) {
        // After a whole block k is back at the block's rotation, so k is also
        // the offset the next rotation builds on.
        k = (key[k] + k) % m;
        c = 0;
      }
    }
    luaL_addsize(&out, chunk);
    p += chunk;
    left -= chunk;
  }
  luaL_pushresult(&out);
  return 1;
}

}  // namespace halvix::modules::zstr
