#pragma once
// Streams of the `zlib` module (lzlib 0.4's zlib.deflate and zlib.inflate),
// userdata with the metatable "zlib:zstream".
#include <lua.hpp>

namespace halvix::modules::lzlib {

inline constexpr const char* kStreamMeta = "zlib:zstream";

// Creates the stream metatable if needed. Leaves the stack unchanged.
void registerStreamMeta(lua_State* L);

int newDeflateStream(lua_State* L);  // zlib.deflate(sink [, level, method, windowBits, memLevel, strategy, dictionary])
int newInflateStream(lua_State* L);  // zlib.inflate(source [, windowBits, dictionary])

}  // namespace halvix::modules::lzlib
