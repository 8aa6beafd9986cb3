#pragma once
// The modules the host registers into every Lua state, in one table.
#include <lua.hpp>

namespace halvix::sdk {

// Stores what `opener(name)` returns in the registry's "_LOADED" table.
// Raises (like any Lua API call) when the opener fails; run it protected.
void preloadCModule(lua_State* L, const char* name, lua_CFunction opener);

// A lua_CFunction: registers every native and dependency module in the
// table's order. Call it with lua_pcall; it raises on the first failure.
int registerNativeModules(lua_State* L);

}  // namespace halvix::sdk
