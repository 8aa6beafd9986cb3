#pragma once
// Arguments shared by the zsocket functions and both buffer types: the
// socket argument, the byte range (data, i, j) and the socket result forms;
// and the registration of a buffer type's metatable.
#include <cstddef>

#include <lua.hpp>

#include "platform/socket_io.h"

namespace halvix::modules::zsocket {

// Resolves the socket argument at position `arg` to a descriptor: a number or
// numeric string is the descriptor (truncated to 32 bits); otherwise a full
// userdata whose `getfd` (looked up through its metatable) is called.
// Raises the bad-argument error (userdata expected) or
// "Socket type missing 'getfd' method".
int checkSocket(lua_State* L, int arg);

// The byte range at positions arg (data), arg + 1 (i), arg + 2 (j). `data`
// is null and `size` 0 for an empty range. A string's range is clamped to the
// string; a light userdata's range is taken as given (j required).
struct ByteRange {
  const char* data = nullptr;
  std::size_t size = 0;
};
ByteRange checkByteRange(lua_State* L, int arg);

// Socket results of the buffer methods: pushes nil and the system error text
// for `error` ("Unknown error" when there is none); returns 2.
int pushSystemError(lua_State* L, int error);
// The buffer methods' failure for a transfer that did not complete: nil and
// "timeout" (would block), "closed", or the system error text; returns 2.
int pushTransferFailure(lua_State* L, const platform::SocketOutcome& outcome);
// Pushes nil and `message`; returns 2.
int pushFailure(lua_State* L, const char* message);

// Creates (or refills) the metatable `name` of a buffer type: __index a new
// table of `methods`, __gc `gc`. Leaves the stack unchanged.
void registerMetatable(lua_State* L, const char* name, const luaL_Reg* methods, lua_CFunction gc);

}  // namespace halvix::modules::zsocket
