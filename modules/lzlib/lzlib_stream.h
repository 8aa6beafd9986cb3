#pragma once
// Streams of the `zlib` module (lzlib 0.4's zlib.deflate and zlib.inflate),
// userdata with the metatable "zlib:zstream".
#include <lua.hpp>

#include "modules/common/zlib_oneshot.h"

namespace halvix::modules::lzlib {

inline constexpr const char* kStreamMeta = "zlib:zstream";

// Creates the stream metatable if needed. Leaves the stack unchanged.
void registerStreamMeta(lua_State* L);

// level, method, windowBits, memLevel, strategy from arguments first to
// first + 4, each optional; as zlib.compress and zlib.deflate take them.
zlib_oneshot::DeflateParams optDeflateParams(lua_State* L, int first);

int newDeflateStream(lua_State* L);  // zlib.deflate(sink [, level, method, windowBits, memLevel, strategy, dictionary])
int newInflateStream(lua_State* L);  // zlib.inflate(source [, windowBits, dictionary])

}  // namespace halvix::modules::lzlib
