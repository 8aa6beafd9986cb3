// libFuzzer target for the bundle reader (make_readable), run in a host state.
// The first input byte chooses how the rest is used:
//   even: the rest is a bundle file, byte for byte;
//   odd:  the rest is a plain MessagePack header (its length in the next two
//         bytes, big-endian) followed by a module area; the harness encodes
//         the header as a writer would, so that header decoding is reached.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include <lua.hpp>

#include "sdk/corvel_native_impl.h"

namespace {

constexpr const char* kHarness = R"LUA(
ErrPrint = function() end
DbgPrint = function() end
)LUA";

constexpr const char* kReader = R"LUA(
local mr = require('make_readable')
local zlib = require('zlib')
return function(path, encodeHeader, header, area)
  if encodeHeader then
    local h = zcrypt1(mr.CompressPassword, zlib.compress(header))
    local n = #h
    local f = assert(io.open(path, 'wb'))
    f:write(string.char(math.floor(n / 16777216) % 256, math.floor(n / 65536) % 256,
                        math.floor(n / 256) % 256, n % 256), h, area)
    f:close()
  end
  local loader = mr.LuaLibFile.new()
  local ok, loaded = pcall(loader.loadFromFile, loader, path)
  if ok and loaded then
    for _, lib in ipairs(loader._libList) do
      for name in pairs(lib._libInfo.modList) do
        local code = loader:readMod(name)
        -- Bytecode is trusted input to LuaJIT (it is not verified); only
        -- source is compiled here.
        if code and code:byte(1) ~= 27 then mr._bin2LuaBlock(code, '=fuzz') end
      end
    end
    loader:listAll()
  end
  loader:close()
end
)LUA";

struct Harness {
  halvix::sdk::CorvelNativeImpl lua{10};
  std::string path;
  int reader = LUA_NOREF;

  Harness() {
    char pattern[] = "/tmp/fuzz-bundle-XXXXXX";
    int fd = mkstemp(pattern);
    if (fd < 0) std::abort();
    close(fd);
    path = pattern;
    halvix::sdk::StateOptions options;
    options.installLoader = false;
    if (lua.prepareState(options)) std::abort();
    // Silence the reader: its printers are taken when make_readable loads.
    if (!lua.doString(kHarness) || !lua.luaPreloadModules()) std::abort();
    lua_State* L = lua.state();
    if (luaL_loadstring(L, kReader) != 0 || lua_pcall(L, 0, 1, 0) != 0) std::abort();
    reader = luaL_ref(L, LUA_REGISTRYINDEX);
  }
  ~Harness() { std::remove(path.c_str()); }
};

Harness& harness() {
  static Harness instance;
  return instance;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1 || size > 1 << 16) return 0;
  Harness& h = harness();
  lua_State* L = h.lua.state();
  bool encode = (data[0] & 1) != 0;
  std::string header;
  std::string area;
  if (encode) {
    if (size < 3) return 0;
    std::size_t length = (std::size_t{data[1]} << 8) | data[2];
    std::size_t available = size - 3;
    if (length > available) length = available;
    header.assign(reinterpret_cast<const char*>(data + 3), length);
    area.assign(reinterpret_cast<const char*>(data + 3 + length), available - length);
  } else {
    std::FILE* f = std::fopen(h.path.c_str(), "wb");
    if (!f) std::abort();
    std::fwrite(data + 1, 1, size - 1, f);
    std::fclose(f);
  }
  int top = lua_gettop(L);
  lua_rawgeti(L, LUA_REGISTRYINDEX, h.reader);
  lua_pushstring(L, h.path.c_str());
  lua_pushboolean(L, encode);
  lua_pushlstring(L, header.data(), header.size());
  lua_pushlstring(L, area.data(), area.size());
  // Errors are allowed (corrupt input raises from the header decoder); crashes are not.
  lua_pcall(L, 4, 0, 0);
  lua_settop(L, top);
  lua_gc(L, LUA_GCSTEP, 64);
  return 0;
}
