// The zsocket module: both buffer metatables and the module table.
#include <iterator>

#include "modules/registration.h"
#include "modules/zsocket/linked_buffer_lua.h"
#include "modules/zsocket/socket_functions.h"
#include "modules/zsocket/zsocket_parts.h"

namespace halvix::modules {

int luaopen_zsocket(lua_State* L) {
  using namespace zsocket;
  registerByteBufferMeta(L);
  registerLinkedBufferMeta(L);

  // The table order: socket functions, the two constructors, the CDR
  // functions, then compression.
  luaL_Reg functions[32];
  std::size_t count = 0;
  auto add = [&](const luaL_Reg* list) {
    for (; list->name; ++list) {
      if (count + 1 < std::size(functions)) functions[count++] = *list;
    }
  };
  add(kSocketFunctions);
  const luaL_Reg constructors[] = {{"newbuffer", newByteBuffer}, {"newlinkbuf", newLinkedBuffer}, {nullptr, nullptr}};
  add(constructors);
  add(kCdrFunctions);
  add(kCompressionFunctions);
  functions[count] = {nullptr, nullptr};

  luaL_register(L, "zsocket", functions);
  return 1;
}

}  // namespace halvix::modules
