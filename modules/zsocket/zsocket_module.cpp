// The zsocket module: both buffer metatables and the module table.
#include <vector>

#include "modules/registration.h"
#include "modules/zsocket/byte_buffer_lua.h"
#include "modules/zsocket/cdr_lua.h"
#include "modules/zsocket/compression_lua.h"
#include "modules/zsocket/linked_buffer_lua.h"
#include "modules/zsocket/socket_functions.h"

namespace halvix::modules {

int luaopen_zsocket(lua_State* L) {
  using namespace zsocket;
  registerByteBufferMeta(L);
  registerLinkedBufferMeta(L);

  // The table order: socket functions, the two constructors, the CDR
  // functions, then compression.
  const luaL_Reg constructors[] = {{"newbuffer", newByteBuffer}, {"newlinkbuf", newLinkedBuffer}, {nullptr, nullptr}};
  std::vector<luaL_Reg> functions;
  for (const luaL_Reg* list : {kSocketFunctions, constructors, kCdrFunctions, kCompressionFunctions}) {
    for (; list->name != nullptr; ++list) functions.push_back(*list);
  }
  functions.push_back({nullptr, nullptr});

  luaL_register(L, "zsocket", functions.data());
  return 1;
}

}  // namespace halvix::modules
