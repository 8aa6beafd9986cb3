#pragma once
// The byte buffer's Lua binding (ZBUFFERMT), for the zsocket opener.
#include <lua.hpp>

namespace halvix::modules::zsocket {

// zsocket.newbuffer / ZBUFFERMT.new: a new, empty buffer.
int newByteBuffer(lua_State* L);
// Creates (or refills) the ZBUFFERMT metatable: its __index table of methods
// and its __gc. Leaves the stack unchanged.
void registerByteBufferMeta(lua_State* L);

}  // namespace halvix::modules::zsocket
