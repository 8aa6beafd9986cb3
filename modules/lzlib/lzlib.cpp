// The `zlib` module: lzlib 0.4's Lua interface over zlib.
#include <cstring>
#include <string>

#include <zlib.h>

#include "modules/common/lua_conv.h"
#include "modules/lzlib/lzlib_limits.h"
#include "modules/lzlib/lzlib_stream.h"
#include "modules/registration.h"

namespace halvix::modules {
namespace {

using lzlib::kMaxInflated;

int zlibVersion_(lua_State* L) {
  lua_pushstring(L, zlibVersion());
  return 1;
}

template <uLong (*Fn)(uLong, const Bytef*, uInt)>
int checksum(lua_State* L) {
  if (lua_gettop(L) == 0) {
    lua_pushnumber(L, static_cast<lua_Number>(Fn(0, Z_NULL, 0)));
    return 1;
  }
  uLong sum = static_cast<uLong>(static_cast<std::uint64_t>(checkInt64(L, 1)) & 0xffffffffu);
  size_t len = 0;
  const char* data = luaL_checklstring(L, 2, &len);
  while (len > 0) {
    const uInt part = len > 0x40000000u ? 0x40000000u : static_cast<uInt>(len);
    sum = Fn(sum, reinterpret_cast<const Bytef*>(data), part);
    data += part;
    len -= part;
  }
  lua_pushnumber(L, static_cast<lua_Number>(sum));
  return 1;
}

int compress(lua_State* L) {
  size_t len = 0;
  const char* data = luaL_checklstring(L, 1, &len);
  const int level = luaL_optint(L, 2, Z_DEFAULT_COMPRESSION);
  const int method = luaL_optint(L, 3, Z_DEFLATED);
  const int windowBits = luaL_optint(L, 4, MAX_WBITS);
  const int memLevel = luaL_optint(L, 5, 8);
  const int strategy = luaL_optint(L, 6, Z_DEFAULT_STRATEGY);

  std::string out;
  std::string err;
  {
    z_stream zs{};
    int ret = deflateInit2(&zs, level, method, windowBits, memLevel, strategy);
    if (ret != Z_OK) {
      err = zs.msg ? zs.msg : zError(ret);
    } else {
      zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
      zs.avail_in = static_cast<uInt>(len);  // checked below
      if (len > 0x7fffffffu) {
        err = "input too large";
      } else {
        out.resize(deflateBound(&zs, static_cast<uLong>(len)) + 16);
        zs.next_out = reinterpret_cast<Bytef*>(out.data());
        zs.avail_out = static_cast<uInt>(out.size());
        ret = deflate(&zs, Z_FINISH);
        if (ret != Z_STREAM_END) err = zs.msg ? zs.msg : zError(ret);
        out.resize(zs.total_out);
      }
      deflateEnd(&zs);
    }
  }
  if (!err.empty()) return luaL_error(L, "compress failed: %s", err.c_str());
  lua_pushlstring(L, out.data(), out.size());
  return 1;
}

int decompress(lua_State* L) {
  size_t len = 0;
  const char* data = luaL_checklstring(L, 1, &len);
  const int windowBits = luaL_optint(L, 2, MAX_WBITS);

  std::string out;
  std::string err;
  {
    z_stream zs{};
    int ret = inflateInit2(&zs, windowBits);
    if (ret != Z_OK) {
      err = zs.msg ? zs.msg : zError(ret);
    } else if (len > 0x7fffffffu) {
      err = "input too large";
      inflateEnd(&zs);
    } else {
      zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
      zs.avail_in = static_cast<uInt>(len);
      out.resize(len * 2 + 256 < kMaxInflated ? len * 2 + 256 : kMaxInflated);
      for (;;) {
        if (zs.total_out == out.size()) {
          if (out.size() >= kMaxInflated) {
            err = "inflated data too large";
            break;
          }
          out.resize(out.size() * 2 < kMaxInflated ? out.size() * 2 : kMaxInflated);
        }
        zs.next_out = reinterpret_cast<Bytef*>(out.data()) + zs.total_out;
        zs.avail_out = static_cast<uInt>(out.size() - zs.total_out);
        ret = inflate(&zs, Z_NO_FLUSH);
        if (ret == Z_STREAM_END) break;
        if (ret == Z_OK) continue;
        if (ret == Z_BUF_ERROR && zs.avail_out == 0) continue;
        if (ret == Z_BUF_ERROR) {
          err = "truncated stream";
        } else {
          err = zs.msg ? zs.msg : zError(ret);
        }
        break;
      }
      out.resize(zs.total_out);
      inflateEnd(&zs);
    }
  }
  if (!err.empty()) return luaL_error(L, "decompress failed: %s", err.c_str());
  lua_pushlstring(L, out.data(), out.size());
  return 1;
}

const luaL_Reg kFunctions[] = {
    {"version", zlibVersion_},
    {"adler32", checksum<adler32>},
    {"crc32", checksum<crc32>},
    {"compress", compress},
    {"decompress", decompress},
    {"deflate", lzlib::newDeflateStream},
    {"inflate", lzlib::newInflateStream},
    {nullptr, nullptr},
};

}  // namespace

int luaopen_zlib(lua_State* L) {
  lzlib::registerStreamMeta(L);
  luaL_register(L, "zlib", kFunctions);
  lua_pushliteral(L, "lzlib 0.4-work2");
  lua_setfield(L, -2, "_VERSION");
  return 1;
}

}  // namespace halvix::modules
