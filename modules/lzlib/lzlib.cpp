// The `zlib` module: lzlib 0.4's Lua interface over zlib.
#include <cstring>
#include <string>
#include <string_view>

#include <zlib.h>

#include "modules/common/lua_conv.h"
#include "modules/common/zlib_oneshot.h"
#include "modules/lzlib/lzlib_stream.h"
#include "modules/registration.h"

namespace halvix::modules {
namespace {


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

// One-shot deflate; on failure returns false with the reason in `err`.
bool deflateAll(std::string_view in, const zlib_oneshot::DeflateParams& p, std::string& out, std::string& err) {
  const zlib_oneshot::DeflateOutcome o = zlib_oneshot::deflateAll(in.data(), in.size(), p, out);
  if (o.status == Z_STREAM_END) return true;
  err = o.reason;
  return false;
}

// One-shot inflate with the output capped at zlib_oneshot::kMaxInflatedBytes.
bool inflateAll(std::string_view in, int windowBits, std::string& out, std::string& err) {
  using zlib_oneshot::InflateStatus;
  const zlib_oneshot::InflateOutcome o = zlib_oneshot::inflateAll(in.data(), in.size(), windowBits, zlib_oneshot::kMaxInflatedBytes, out);
  switch (o.status) {
    case InflateStatus::Ok: return true;
    case InflateStatus::Truncated: err = "truncated stream"; break;
    case InflateStatus::TooLarge: err = "inflated data too large"; break;
    case InflateStatus::OutOfMemory: err = zError(Z_MEM_ERROR); break;
    case InflateStatus::InitFailed:
    case InflateStatus::Corrupt: err = o.reason; break;
  }
  return false;
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
  const zlib_oneshot::DeflateParams p = lzlib::optDeflateParams(L, 2);
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
