#pragma once
// zsocket.compress and zsocket.decompress, for the module opener.
#include <lua.hpp>

namespace halvix::modules::zsocket {

// compress, decompress; null-terminated.
extern const luaL_Reg kCompressionFunctions[];

}  // namespace halvix::modules::zsocket
