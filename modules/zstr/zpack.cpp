#include <bit>
#include <cstdint>

#include "modules/common/lua_conv.h"
#include "modules/common/single_float.h"
#include "modules/common/varint.h"
#include "modules/zstr/pack_format.h"
#include "modules/zstr/zstr.h"

namespace halvix::modules::zstr {
namespace {

// The low `width` bytes of v, least significant first unless swapped.
void addFixed(luaL_Buffer* out, std::uint64_t v, int width, bool swap) {
  char bytes[8];
  for (int k = 0; k < width; ++k) bytes[swap ? width - 1 - k : k] = static_cast<char>((v >> (8 * k)) & 0xFF);
  luaL_addlstring(out, bytes, static_cast<std::size_t>(width));
}

void addVarint(luaL_Buffer* out, std::uint64_t v) {
  unsigned char bytes[varint::kMax64];
  luaL_addlstring(out, reinterpret_cast<const char*>(bytes), varint::put(bytes, v));
}

}  // namespace

int zpack(lua_State* L) {
  std::size_t formatLength = 0;
  const char* format = luaL_checklstring(L, 1, &formatLength);
  FormatReader reader(format, formatLength);
  bool swap = false;
  int arg = 2;
  luaL_Buffer out;
  luaL_buffinit(L, &out);
  Item item;
  while (reader.next(item)) {
    const Code code = item.code;
    switch (code.kind) {
      case Kind::Unknown:
        return luaL_argerror(L, 1, lua_pushfstring(L, "bad code `%c'", item.character));
      case Kind::Ignore: continue;
      case Kind::Little: swap = false; continue;
      case Kind::Big: swap = true; continue;
      default: break;
    }
    for (std::uint64_t rep = 0; rep < item.count; ++rep, ++arg) {
      switch (code.kind) {
        case Kind::ZeroEnded:
        case Kind::Raw:
        case Kind::Prefixed:
        case Kind::VarPrefixed: {
          std::size_t length = 0;
          const char* s = luaL_checklstring(L, arg, &length);
          if (code.kind == Kind::Prefixed) addFixed(&out, length, code.width, swap && code.width > 1);
          if (code.kind == Kind::VarPrefixed) addVarint(&out, length & 0xFFFFFFFFu);
          luaL_addlstring(&out, s, length);
          if (code.kind == Kind::ZeroEnded) luaL_addchar(&out, '\0');
          break;
        }
        case Kind::Int32Based:
          addFixed(&out, static_cast<std::uint32_t>(checkInt32(L, arg)), code.width, swap);
          break;
        case Kind::Int64Based:
          addFixed(&out, static_cast<std::uint64_t>(checkInt64(L, arg)), code.width, swap);
          break;
        case Kind::Single:
          addFixed(&out, singleBits(luaL_checknumber(L, arg)), 4, swap);
          break;
        case Kind::Double:
          addFixed(&out, std::bit_cast<std::uint64_t>(static_cast<double>(luaL_checknumber(L, arg))), 8, swap);
          break;
        case Kind::VarU32:
          addVarint(&out, static_cast<std::uint64_t>(checkInt64(L, arg)) & 0xFFFFFFFFu);
          break;
        case Kind::VarZigzag32:
          addVarint(&out, varint::zigzag32(checkInt32(L, arg)));
          break;
        case Kind::VarZigzag64:
          addVarint(&out, varint::zigzag64(checkInt64(L, arg)));
          break;
        default:
          break;
      }
    }
  }
  luaL_pushresult(&out);
  return 1;
}

}  // namespace halvix::modules::zstr
