// zsocket.compress and zsocket.decompress over the shared zlib one-shot calls.
#include <zlib.h>

#include <string>

#include "modules/common/lua_conv.h"
#include "modules/common/zlib_oneshot.h"
#include "modules/zsocket/compression_lua.h"
#include "modules/zsocket/zsocket_args.h"

namespace halvix::modules::zsocket {
namespace {

// The largest string LuaJIT can hold; more output could not be returned.
constexpr std::size_t kMaxLuaString = 0x7fffff00;

// compress and decompress report bad arguments as results, never raising, so
// the range's types are checked before checkByteRange could raise.
bool rangeArgumentsUsable(lua_State* L) {
  const int type = lua_type(L, 1);
  if (type != LUA_TSTRING && type != LUA_TNUMBER && type != LUA_TLIGHTUSERDATA) return false;
  if (!lua_isnoneornil(L, 2) && !lua_isnumber(L, 2)) return false;
  if (type == LUA_TLIGHTUSERDATA) return lua_isnumber(L, 3);
  return lua_isnoneornil(L, 3) || lua_isnumber(L, 3);
}

int optIntArgument(lua_State* L, int arg, int def) {
  return lua_isnumber(L, arg) ? toInt32(lua_tonumber(L, arg)) : def;
}

int zcompress(lua_State* L) {
  zlib_oneshot::DeflateParams p;
  p.level = optIntArgument(L, 4, p.level);
  p.method = optIntArgument(L, 5, p.method);
  p.windowBits = optIntArgument(L, 6, p.windowBits);
  p.memLevel = optIntArgument(L, 7, p.memLevel);
  p.strategy = optIntArgument(L, 8, p.strategy);
  if (!rangeArgumentsUsable(L)) return pushFailure(L, "compress args error");
  const ByteRange range = checkByteRange(L, 1);
  if (range.size == 0) return pushFailure(L, "compress args error");
  std::string out;
  const zlib_oneshot::DeflateOutcome o = zlib_oneshot::deflateAll(range.data, range.size, p, out);
  if (o.initFailed || out.size() > kMaxLuaString) {
    lua_pushnil(L);
    lua_pushinteger(L, o.initFailed ? o.status : Z_MEM_ERROR);
    return 2;
  }
  lua_pushlstring(L, out.data(), out.size());
  lua_pushinteger(L, o.status);
  return 2;
}

int zdecompress(lua_State* L) {
  const int windowBits = optIntArgument(L, 4, 15);
  if (!rangeArgumentsUsable(L)) return pushFailure(L, "decompress args error");
  const ByteRange range = checkByteRange(L, 1);
  if (range.size == 0) return pushFailure(L, "decompress args error");
  std::string out;
  switch (zlib_oneshot::inflateAll(range.data, range.size, windowBits, zlib_oneshot::kMaxInflatedBytes, out).status) {
    case zlib_oneshot::InflateStatus::Ok:
      lua_pushlstring(L, out.data(), out.size());
      return 1;
    case zlib_oneshot::InflateStatus::InitFailed:
      return pushFailure(L, "failed to initialize zstream structures");
    case zlib_oneshot::InflateStatus::TooLarge:
      return pushFailure(L, "inflated data too large");
    default:
      return pushFailure(L, "failed to process zlib stream");
  }
}

}  // namespace

const luaL_Reg kCompressionFunctions[] = {
    {"compress", zcompress},
    {"decompress", zdecompress},
    {nullptr, nullptr},
};

}  // namespace halvix::modules::zsocket
