#include "sdk/cpp_callback.h"

#include <new>
#include <utility>

namespace halvix::sdk {

namespace {

int callbackCall(lua_State* L) {
  auto** slot = static_cast<CppCallback**>(luaL_checkudata(L, 1, kCppCallbackMeta));
  CppCallback* callback = *slot;
  std::string bytes;
  switch (lua_type(L, 2)) {
    case LUA_TNONE:
    case LUA_TNIL:
      break;
    case LUA_TSTRING: {
      std::size_t length = 0;
      const char* data = lua_tolstring(L, 2, &length);
      bytes.assign(data, length);
      break;
    }
    default:
      return luaL_error(L, "Unsupport type %s to convert to Java object", luaL_typename(L, 2));
  }
  if (callback && callback->handler) {
    std::vector<std::string> results;
    results.push_back(std::move(bytes));
    // A handler must never unwind through Lua's C frames.
    try {
      callback->handler(results);
    } catch (const std::exception& e) {
      return luaL_error(L, "cppcallback handler failed: %s", e.what());
    } catch (...) {
      return luaL_error(L, "cppcallback handler failed");
    }
  }
  return 0;
}

int callbackGc(lua_State* L) {
  auto** slot = static_cast<CppCallback**>(luaL_checkudata(L, 1, kCppCallbackMeta));
  CppCallback* callback = *slot;
  *slot = nullptr;
  if (callback && --callback->refs <= 0) delete callback;
  return 0;
}

const luaL_Reg kNoFunctions[] = {{nullptr, nullptr}};

}  // namespace

void ensureCppCallbackMetatable(lua_State* L) {
  int top = lua_gettop(L);
  if (luaL_newmetatable(L, kCppCallbackMeta)) {
    lua_pushcfunction(L, callbackGc);
    lua_setfield(L, -2, "__gc");
    lua_pushcfunction(L, callbackCall);
    lua_setfield(L, -2, "__call");
    luaL_register(L, kCppCallbackMeta, kNoFunctions);
  }
  lua_settop(L, top);
}

void pushCppCallback(lua_State* L, StringsCallback handler) {
  auto** slot = static_cast<CppCallback**>(lua_newuserdata(L, sizeof(CppCallback*)));
  *slot = nullptr;
  luaL_getmetatable(L, kCppCallbackMeta);
  lua_setmetatable(L, -2);
  // The userdata already has its finaliser, so the record is never leaked
  // even if a later step raises.
  *slot = new (std::nothrow) CppCallback{std::move(handler), 1};
  if (!*slot) luaL_error(L, "not enough memory");
}

}  // namespace halvix::sdk
