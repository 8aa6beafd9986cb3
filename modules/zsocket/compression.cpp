#include "modules/zsocket/compression.h"

#include <zlib.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <new>

#include "modules/common/lua_conv.h"
#include "modules/zsocket/socket_functions.h"
#include "modules/zsocket/zsocket_args.h"

namespace halvix::modules::zsocket {
namespace {

constexpr std::size_t kStep = 512;
// The largest string LuaJIT can hold; more output could not be returned.
constexpr std::size_t kMaxLuaString = 0x7fffff00;

// zlib counts input in uInt; longer ranges are handed over in slices.
void refillInput(z_stream& z, const char*& next, std::size_t& remaining) {
  if (z.avail_in != 0 || remaining == 0) return;
  const std::size_t take = std::min<std::size_t>(remaining, UINT_MAX);
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(next));
  z.avail_in = static_cast<uInt>(take);
  next += take;
  remaining -= take;
}

struct DeflateStream {
  z_stream z{};
  bool open = false;
  ~DeflateStream() {
    if (open) deflateEnd(&z);
  }
};

struct InflateStream {
  z_stream z{};
  bool open = false;
  ~InflateStream() {
    if (open) inflateEnd(&z);
  }
};

}  // namespace

int deflateRange(const char* data, std::size_t size, const DeflateParams& p, std::string& out, bool& initFailed) {
  DeflateStream s;
  initFailed = false;
  int status = deflateInit2(&s.z, p.level, p.method, p.windowBits, p.memLevel, p.strategy);
  if (status != Z_OK) {
    initFailed = true;
    return status;
  }
  s.open = true;
  std::size_t remaining = size;
  unsigned char window[kStep];
  do {
    refillInput(s.z, data, remaining);
    s.z.next_out = window;
    s.z.avail_out = kStep;
    status = deflate(&s.z, remaining == 0 ? Z_FINISH : Z_NO_FLUSH);
    try {
      out.append(reinterpret_cast<char*>(window), kStep - s.z.avail_out);
    } catch (const std::bad_alloc&) {
      return Z_MEM_ERROR;
    }
  } while (status == Z_OK);
  return status;
}

InflateResult inflateRange(const char* data, std::size_t size, int windowBits, std::size_t maxOutput,
                           std::string& out) {
  InflateStream s;
  if (inflateInit2(&s.z, windowBits) != Z_OK) return InflateResult::InitFailed;
  s.open = true;
  std::size_t remaining = size;
  unsigned char window[kStep];
  for (;;) {
    refillInput(s.z, data, remaining);
    const uInt availIn = s.z.avail_in;
    s.z.next_out = window;
    s.z.avail_out = kStep;
    const int status = inflate(&s.z, remaining == 0 ? Z_FINISH : Z_NO_FLUSH);
    const std::size_t produced = kStep - s.z.avail_out;
    if (produced > maxOutput - out.size()) return InflateResult::StreamFailed;
    try {
      out.append(reinterpret_cast<char*>(window), produced);
    } catch (const std::bad_alloc&) {
      return InflateResult::StreamFailed;
    }
    if (status == Z_STREAM_END) return InflateResult::Ok;
    const bool progress = produced > 0 || s.z.avail_in != availIn;
    if ((status != Z_OK && status != Z_BUF_ERROR) || !progress) return InflateResult::StreamFailed;
  }
}

namespace {

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
  DeflateParams p;
  p.level = optIntArgument(L, 4, -1);
  p.method = optIntArgument(L, 5, Z_DEFLATED);
  p.windowBits = optIntArgument(L, 6, 15);
  p.memLevel = optIntArgument(L, 7, 8);
  p.strategy = optIntArgument(L, 8, Z_DEFAULT_STRATEGY);
  if (!rangeArgumentsUsable(L)) return pushFailure(L, "compress args error");
  const ByteRange range = checkByteRange(L, 1);
  if (range.size == 0) return pushFailure(L, "compress args error");
  std::string out;
  bool initFailed = false;
  const int status = deflateRange(range.data, range.size, p, out, initFailed);
  if (initFailed) {
    lua_pushnil(L);
    lua_pushinteger(L, status);
    return 2;
  }
  if (out.size() > kMaxLuaString) {
    lua_pushnil(L);
    lua_pushinteger(L, Z_MEM_ERROR);
    return 2;
  }
  lua_pushlstring(L, out.data(), out.size());
  lua_pushinteger(L, status);
  return 2;
}

int zdecompress(lua_State* L) {
  const int windowBits = optIntArgument(L, 4, 15);
  if (!rangeArgumentsUsable(L)) return pushFailure(L, "decompress args error");
  const ByteRange range = checkByteRange(L, 1);
  if (range.size == 0) return pushFailure(L, "decompress args error");
  std::string out;
  switch (inflateRange(range.data, range.size, windowBits, kMaxLuaString, out)) {
    case InflateResult::Ok:
      lua_pushlstring(L, out.data(), out.size());
      return 1;
    case InflateResult::InitFailed:
      return pushFailure(L, "failed to initialize zstream structures");
    case InflateResult::StreamFailed:
      break;
  }
  return pushFailure(L, "failed to process zlib stream");
}

}  // namespace

const luaL_Reg kCompressionFunctions[] = {
    {"compress", zcompress},
    {"decompress", zdecompress},
    {nullptr, nullptr},
};

}  // namespace halvix::modules::zsocket
