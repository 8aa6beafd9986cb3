/* Forced ahead of lua_cjson.c. LuaJIT's lauxlib.h declares luaL_setfuncs,
 * while lua-cjson, written for the Lua 5.1 headers, defines a static copy of
 * its own; the declaration is renamed away so that the module keeps its copy,
 * as it does in Debian's Linux build. */
#define luaL_setfuncs halvix_luajit_luaL_setfuncs
#include <lauxlib.h>
#undef luaL_setfuncs
