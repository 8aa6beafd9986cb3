#pragma once
// Openers of the host's own native modules, for the SDK's registration table.
#include <lua.hpp>

namespace halvix::modules {

// lzlib 0.4-compatible zlib binding: global table `zlib`.
int luaopen_zlib(lua_State* L);

// zpack, zunpack, float2hex, hex2float, ztab2str, zcrc8, zcrc16, zcrcA001,
// zcrc32, zcrypt1, in that order: set as globals and as the table `zstr`.
extern const luaL_Reg kZstrFunctions[];

// zsocket: socket functions, byte and linked buffers, CDR; module `zsocket`.
int luaopen_zsocket(lua_State* L);

// zacc: utility functions; the list is registered as the library "zacc".
int luaopen_zacc(lua_State* L);
extern const luaL_Reg kZaccFunctions[];

// irpacker: infrared code packing; module `irpacker`.
int luaopen_irpacker(lua_State* L);

}  // namespace halvix::modules
