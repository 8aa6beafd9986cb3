// cdr_rd_var and cdr_rd_table on arbitrary bytes. The first byte picks the
// reader, the start position and whether a dictionary is given; inputs are
// capped at 64 KiB. Readers must never crash, and anything they read must
// encode again.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <lua.hpp>

#include "modules/zsocket/cdr_lua.h"

namespace {

constexpr std::size_t kMaxInput = 64 * 1024;

lua_CFunction find(const char* name) {
  for (const luaL_Reg* r = halvix::modules::zsocket::kCdrFunctions; r->name; ++r) {
    if (std::strcmp(r->name, name) == 0) return r->func;
  }
  return nullptr;
}

struct Harness {
  Harness() {
    // The readers' diagnostics would flood the fuzzer's output.
    if (!std::freopen("/dev/null", "w", stdout)) std::abort();
    L = luaL_newstate();
    lua_newtable(L);  // dictionary at index 1: entries 1..8
    for (int i = 1; i <= 8; ++i) {
      lua_pushfstring(L, "word%d", i);
      lua_rawseti(L, 1, i);
    }
  }
  lua_State* L;
};

// Called through lua_pcall: a nil or NaN key raises the engine's error.
int readAndReencode(lua_State* L) {
  const bool table = lua_toboolean(L, 1);
  lua_pushcfunction(L, find(table ? "cdr_rd_table" : "cdr_rd_var"));
  lua_pushvalue(L, 2);  // data
  lua_pushvalue(L, 3);  // pos
  lua_pushvalue(L, 4);  // dictionary or nil
  lua_call(L, 3, LUA_MULTRET);
  if (lua_gettop(L) == 4) return 0;  // nothing read
  lua_pushcfunction(L, find("cdr_wr_var"));
  lua_pushvalue(L, 6);
  if (lua_pcall(L, 1, 1, 0) != 0 || !lua_isstring(L, -1)) std::abort();
  return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Harness h;
  if (size < 1 || size > kMaxInput) return 0;
  lua_State* L = h.L;
  const std::uint8_t mode = data[0];
  lua_pushcfunction(L, readAndReencode);
  lua_pushboolean(L, mode & 1);
  lua_pushlstring(L, reinterpret_cast<const char*>(data + 1), size - 1);
  lua_pushinteger(L, 1 + ((mode >> 2) & 3));
  if (mode & 2) {
    lua_pushvalue(L, 1);
  } else {
    lua_pushnil(L);
  }
  lua_pcall(L, 4, 0, 0);
  lua_settop(L, 1);
  lua_gc(L, LUA_GCSTEP, 64);
  return 0;
}
