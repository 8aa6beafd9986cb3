#pragma once
// The linked buffer's Lua binding, for the zsocket opener.
#include <lua.hpp>

namespace halvix::modules::zsocket {

// zsocket.newlinkbuf / ZLINKBUFMT.new: [chunk size] (0 or absent: 4096).
int newLinkedBuffer(lua_State* L);
// Creates (or refills) the ZLINKBUFMT metatable; leaves the stack unchanged.
void registerLinkedBufferMeta(lua_State* L);

}  // namespace halvix::modules::zsocket
