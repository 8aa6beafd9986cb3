#pragma once
// The pack, checksum and codec functions published as globals, as the table
// `zstr` and (pack/unpack only) as the module "zpack".
#include <lua.hpp>

namespace halvix::modules::zstr {

int zpack(lua_State* L);
int zunpack(lua_State* L);
int float2hex(lua_State* L);
int hex2float(lua_State* L);
int ztab2str(lua_State* L);
int zcrc8(lua_State* L);
int zcrc16(lua_State* L);
int zcrcA001(lua_State* L);
int zcrc32(lua_State* L);
int zcrypt1(lua_State* L);

}  // namespace halvix::modules::zstr
