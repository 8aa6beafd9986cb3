#pragma once
// zsocket's plain socket functions, for the module opener.
#include <lua.hpp>

namespace halvix::modules::zsocket {

// send, recv, recvfrom, setsendbuf, setrecvbuf; null-terminated.
extern const luaL_Reg kSocketFunctions[];

}  // namespace halvix::modules::zsocket
