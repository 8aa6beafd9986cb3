#pragma once
// zsocket's plain socket functions and its compression functions, for the
// module opener.
#include <lua.hpp>

namespace halvix::modules::zsocket {

// send, recv, recvfrom, setsendbuf, setrecvbuf; null-terminated.
extern const luaL_Reg kSocketFunctions[];
// compress, decompress; null-terminated.
extern const luaL_Reg kCompressionFunctions[];

}  // namespace halvix::modules::zsocket
