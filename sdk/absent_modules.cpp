// Lua libraries that the Windows build cannot include: Debian's archive no
// longer serves the sources of the md5 and LuaSQL versions to cross-build.
// Each stands in as a table that names what is missing on first use, so the
// rest of the state starts as usual and an application that never uses them
// runs unchanged.
#include <lua.hpp>

namespace {

int refuse(lua_State* L) {
  lua_getmetatable(L, 1);
  lua_getfield(L, -1, "__name");
  return luaL_error(L, "%s is not available in this build", lua_tostring(L, -1));
}

int absentLibrary(lua_State* L, const char* name) {
  lua_newtable(L);
  lua_newtable(L);
  lua_pushstring(L, name);
  lua_setfield(L, -2, "__name");
  lua_pushcfunction(L, refuse);
  lua_setfield(L, -2, "__index");
  lua_setmetatable(L, -2);
  return 1;
}

}  // namespace

extern "C" int luaopen_md5_core(lua_State* L) { return absentLibrary(L, "md5"); }
extern "C" int luaopen_luasql_sqlite3(lua_State* L) { return absentLibrary(L, "luasql.sqlite3"); }
