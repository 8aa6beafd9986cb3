// The `zlib` module: lzlib 0.4's Lua interface over zlib.
#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

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

struct DeflateParams {
  int level = Z_DEFAULT_COMPRESSION;
  int method = Z_DEFLATED;
  int windowBits = MAX_WBITS;
  int memLevel = 8;
  int strategy = Z_DEFAULT_STRATEGY;
};

// One-shot deflate; on failure returns false with the reason in `err`.
bool deflateAll(std::string_view in, const DeflateParams& p, std::string& out, std::string& err) {
  if (in.size() > 0x7fffffffu) {
    err = "input too large";
    return false;
  }
  z_stream zs{};
  int ret = deflateInit2(&zs, p.level, p.method, p.windowBits, p.memLevel, p.strategy);
  if (ret != Z_OK) {
    err = zs.msg ? zs.msg : zError(ret);
    return false;
  }
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
  zs.avail_in = static_cast<uInt>(in.size());
  out.resize(deflateBound(&zs, static_cast<uLong>(in.size())) + 16);
  zs.next_out = reinterpret_cast<Bytef*>(out.data());
  zs.avail_out = static_cast<uInt>(out.size());
  ret = deflate(&zs, Z_FINISH);
  if (ret != Z_STREAM_END) err = zs.msg ? zs.msg : zError(ret);
  out.resize(zs.total_out);
  deflateEnd(&zs);
  return err.empty();
}

// One-shot inflate with the output capped at kMaxInflated.
bool inflateAll(std::string_view in, int windowBits, std::string& out, std::string& err) {
  if (in.size() > 0x7fffffffu) {
    err = "input too large";
    return false;
  }
  z_stream zs{};
  int ret = inflateInit2(&zs, windowBits);
  if (ret != Z_OK) {
    err = zs.msg ? zs.msg : zError(ret);
    return false;
  }
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
  zs.avail_in = static_cast<uInt>(in.size());
  out.resize(std::min(in.size() * 2 + 256, kMaxInflated));
  for (;;) {
    if (zs.total_out == out.size()) {
      if (out.size() >= kMaxInflated) {
        err = "inflated data too large";
        break;
      }
      out.resize(std::min(out.size() * 2, kMaxInflated));
    }
    zs.next_out = reinterpret_cast<Bytef*>(out.data()) + zs.total_out;
    zs.avail_out = static_cast<uInt>(out.size() - zs.total_out);
    ret = inflate(&zs, Z_NO_FLUSH);
    if (ret == Z_STREAM_END) break;
    if (ret == Z_OK || (ret == Z_BUF_ERROR && zs.avail_out == 0)) continue;
    // Z_BUF_ERROR with room left: all input used up before the end.
    err = ret == Z_BUF_ERROR ? "truncated stream" : zs.msg ? zs.msg : zError(ret);
    break;
  }
  out.resize(zs.total_out);
  inflateEnd(&zs);
  return err.empty();
}

// Pushes the result, or the error text with the caller's position; the
// strings are gone before the error is raised.
template <typename Work>
int runOneShot(lua_State* L, const char* what, Work work) {
  bool ok = false;
  {
    std::string out;
    std::string err;
    ok = work(out, err);
    if (ok) {
      lua_pushlstring(L, out.data(), out.size());
    } else {
      luaL_where(L, 1);
      lua_pushfstring(L, "%s failed: %s", what, err.c_str());
      lua_concat(L, 2);
    }
  }
  return ok ? 1 : lua_error(L);
}

int compress(lua_State* L) {
  size_t len = 0;
  const char* data = luaL_checklstring(L, 1, &len);
  DeflateParams p;
  p.level = luaL_optint(L, 2, p.level);
  p.method = luaL_optint(L, 3, p.method);
  p.windowBits = luaL_optint(L, 4, p.windowBits);
  p.memLevel = luaL_optint(L, 5, p.memLevel);
  p.strategy = luaL_optint(L, 6, p.strategy);
  return runOneShot(L, "compress", [&](std::string& out, std::string& err) {
    return deflateAll({data, len}, p, out, err);
  });
}

int decompress(lua_State* L) {
  size_t len = 0;
  const char* data = luaL_checklstring(L, 1, &len);
  const int windowBits = luaL_optint(L, 2, MAX_WBITS);
  return runOneShot(L, "decompress", [&](std::string& out, std::string& err) {
    return inflateAll({data, len}, windowBits, out, err);
  });
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
