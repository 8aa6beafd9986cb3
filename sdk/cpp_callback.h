#pragma once
// The callback object handed to the Lua application's forwardPlateCall: a
// full userdata with the metatable "lua.cppcallback" that, when called from
// Lua with a byte string, passes that string to a native handler.
#include <lua.hpp>

#include "sdk/callbacks.h"

namespace halvix::sdk {

struct CppCallback {
  StringsCallback handler;
  int refs = 1;
};

inline constexpr const char* kCppCallbackMeta = "lua.cppcallback";

// Makes sure the registry holds the metatable (and the empty library of the
// same name); leaves the stack as it was. Must run in protected mode.
void ensureCppCallbackMetatable(lua_State* L);

// Pushes a new callback object that owns a copy of `handler`. Must run in
// protected mode (allocation may raise).
void pushCppCallback(lua_State* L, StringsCallback handler);

}  // namespace halvix::sdk
