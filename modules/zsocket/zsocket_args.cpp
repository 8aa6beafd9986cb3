#include "modules/zsocket/zsocket_args.h"

#include <cstdint>

#include "modules/common/lua_conv.h"

namespace halvix::modules::zsocket {

int checkSocket(lua_State* L, int arg) {
  if (lua_type(L, arg) == LUA_TNUMBER || lua_type(L, arg) == LUA_TSTRING) {
    if (lua_isnumber(L, arg)) return toInt32(lua_tonumber(L, arg));
  }
  if (lua_type(L, arg) != LUA_TUSERDATA) luaL_typerror(L, arg, "userdata");
  // Only an object with an __index can carry methods; without one, indexing
  // would raise an unrelated "attempt to index" error.
  bool indexable = false;
  if (lua_getmetatable(L, arg)) {
    lua_getfield(L, -1, "__index");
    indexable = !lua_isnil(L, -1);
    lua_pop(L, 2);
  }
  if (indexable) {
    lua_getfield(L, arg, "getfd");
  } else {
    lua_pushnil(L);
  }
  if (lua_isnil(L, -1)) {
    lua_pop(L, 1);
    luaL_error(L, "Socket type missing 'getfd' method");
  }
  lua_pushvalue(L, arg);
  lua_call(L, 1, 1);
  int fd = toInt32(lua_tonumber(L, -1));  // 0 when not a number
  lua_pop(L, 1);
  return fd;
}

ByteRange checkByteRange(lua_State* L, int arg) {
  ByteRange range;
  if (lua_type(L, arg) == LUA_TLIGHTUSERDATA) {
    const auto base = reinterpret_cast<std::uintptr_t>(lua_touserdata(L, arg));
    const auto i = static_cast<std::uint64_t>(optInt64(L, arg + 1, 1));
    const auto j = static_cast<std::uint64_t>(checkInt64(L, arg + 2));
    if (i == 0 || j < i) return range;
    // Raw memory handed over by the application: taken as given.
    range.data = reinterpret_cast<const char*>(base + (i - 1));
    range.size = static_cast<std::size_t>(j - i + 1);
    return range;
  }
  std::size_t length = 0;
  const char* s = luaL_checklstring(L, arg, &length);
  const auto i = static_cast<std::uint64_t>(optInt64(L, arg + 1, 1));
  auto j = static_cast<std::uint64_t>(optInt64(L, arg + 2, static_cast<std::int64_t>(length)));
  if (j > length) j = length;
  if (i == 0 || j < i) return range;
  range.data = s + (i - 1);
  range.size = static_cast<std::size_t>(j - i + 1);
  return range;
}

int pushSystemError(lua_State* L, int error) { return pushFailure(L, platform::systemErrorText(error)); }

int pushTransferFailure(lua_State* L, const platform::SocketOutcome& outcome) {
  switch (outcome.status) {
    case platform::SocketStatus::WouldBlock: return pushFailure(L, "timeout");
    case platform::SocketStatus::Closed: return pushFailure(L, "closed");
    default: return pushSystemError(L, outcome.error);
  }
}

int pushFailure(lua_State* L, const char* message) {
  lua_pushnil(L);
  lua_pushstring(L, message);
  return 2;
}

void registerMetatable(lua_State* L, const char* name, const luaL_Reg* methods, lua_CFunction gc) {
  luaL_newmetatable(L, name);
  lua_newtable(L);
  luaL_register(L, nullptr, methods);
  lua_setfield(L, -2, "__index");
  lua_pushcfunction(L, gc);
  lua_setfield(L, -2, "__gc");
  lua_pop(L, 1);
}

}  // namespace halvix::modules::zsocket
