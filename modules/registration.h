#pragma once
// Openers of the host's own native modules, for the SDK's registration table.
#include <lua.hpp>

namespace halvix::modules {

// lzlib 0.4-compatible zlib binding: global table `zlib`.
int luaopen_zlib(lua_State* L);

}  // namespace halvix::modules
