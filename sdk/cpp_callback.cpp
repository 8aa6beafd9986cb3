#include "sdk/cpp_callback.h"

#include <new>
#include <utility>

#include "sdk/corvel_native.h"

namespace halvix::sdk {

namespace {

// The userdata's payload: the callback, alive until the finaliser runs (a
// finalised object may still be reached, and must then do nothing).
// LuaJIT aligns a userdata's payload to 8 bytes.
static_assert(alignof(CppCallback) <= 8);
struct CallbackSlot {
  alignas(CppCallback) unsigned char room[sizeof(CppCallback)];
  bool live;
  CppCallback& callback() { return *std::launder(reinterpret_cast<CppCallback*>(room)); }
};

int callbackCall(lua_State* L) {
  auto* slot = static_cast<CallbackSlot*>(luaL_checkudata(L, 1, kCppCallbackMeta));
  // The string stays on the stack, so its bytes outlive the answer.
  std::string_view bytes;
  switch (lua_type(L, 2)) {
    case LUA_TNONE:
    case LUA_TNIL:
      break;
    case LUA_TSTRING: {
      std::size_t length = 0;
      const char* data = lua_tolstring(L, 2, &length);
      bytes = std::string_view(data, length);
      break;
    }
    default:
      return luaL_error(L, "Unsupport type %s to convert to Java object", luaL_typename(L, 2));
  }
  if (slot->live && (slot->callback().handler || slot->callback().call)) {
    // A handler must never unwind through Lua's C frames.
    try {
      slot->callback().answer(bytes);
    } catch (const std::exception& e) {
      return luaL_error(L, "cppcallback handler failed: %s", e.what());
    } catch (...) {
      return luaL_error(L, "cppcallback handler failed");
    }
  }
  return 0;
}

int callbackGc(lua_State* L) {
  auto* slot = static_cast<CallbackSlot*>(luaL_checkudata(L, 1, kCppCallbackMeta));
  if (slot->live) {
    slot->live = false;
    slot->callback().~CppCallback();
  }
  return 0;
}

const luaL_Reg kNoFunctions[] = {{nullptr, nullptr}};

}  // namespace

CppCallback::~CppCallback() {
  if (call) call->letGo(handOver);
}

void CppCallback::answer(std::string_view bytes) {
  if (dropAnswers && dropAnswers->load()) return;
  if (call)
    call->answer(handOver, bytes);
  else if (handler)
    handler(std::vector<std::string>{std::string(bytes)});
}

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

void pushCppCallback(lua_State* L, CppCallback&& callback) {
  auto* slot = static_cast<CallbackSlot*>(lua_newuserdata(L, sizeof(CallbackSlot)));
  slot->live = false;
  luaL_getmetatable(L, kCppCallbackMeta);
  lua_setmetatable(L, -2);
  // Nothing raises from here on, so the callback is never left unowned.
  new (slot->room) CppCallback(std::move(callback));
  slot->live = true;
}

void pushCppCallback(lua_State* L, StringsCallback handler) {
  pushCppCallback(L, CppCallback(std::move(handler), nullptr));
}

}  // namespace halvix::sdk
