#include "sdk/corvel_native_impl.h"

#include <cstdio>
#include <utility>

#include "sdk/app_paths.h"
#include "sdk/builtin_modules.h"
#include "sdk/module_registry.h"
#include "sdk/sdk_log.h"

namespace halvix::sdk {

namespace {

// Errors never reach the panic function: every step that can raise runs under
// lua_pcall. Should one get through anyway, report nothing, as required.
int silentPanic(lua_State*) { return 0; }

int openLibs(lua_State* L) {
  luaL_openlibs(L);
  return 0;
}

std::string errorText(lua_State* L, int index) {
  std::size_t length = 0;
  const char* text = lua_tolstring(L, index, &length);
  if (text) return std::string(text, length);
  return std::string("(error object is a ") + luaL_typename(L, index) + " value)";
}

bool pcallFunction(lua_State* L, lua_CFunction f, void* context = nullptr) {
  lua_pushcfunction(L, f);
  lua_pushlightuserdata(L, context);
  if (lua_pcall(L, 1, 0, 0) != 0) {
    lua_pop(L, 1);
    return false;
  }
  return true;
}

// Lua code run after interrupt() raises this at once, and so does the error
// handler of any pcall that catches it.
void interruptHook(lua_State* L, lua_Debug*) { luaL_error(L, "the activation has ended"); }

}  // namespace

std::string escapeLuaString(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\'': out += "\\'"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      default:
        if (byte < 32 || byte == 127) {
          // Three digits, so that a digit after it cannot extend the escape.
          char escaped[5];
          std::snprintf(escaped, sizeof escaped, "\\%03u", byte);
          out += escaped;
        } else {
          out.push_back(c);
        }
    }
  }
  return out;
}

int luaTraceback(lua_State* L) {
  const char* message = lua_tostring(L, 1);
  if (!message) message = lua_pushfstring(L, "(error object is a %s value)", luaL_typename(L, 1));
  lua_getglobal(L, "debug");
  lua_getfield(L, -1, "traceback");
  lua_pushstring(L, message);
  lua_pushinteger(L, 2);
  lua_call(L, 2, 1);
  return 1;
}

CorvelNativeImpl::CorvelNativeImpl(int logLevel) : logLevel_(logLevel) {}

CorvelNativeImpl::~CorvelNativeImpl() {
  if (state_) lua_close(state_);
}

void CorvelNativeImpl::interrupt() {
  // Setting a hook from another thread is how LuaJIT's own interpreter stops
  // a running script on SIGINT; the hook lives in the global state, so it
  // reaches every coroutine.
  if (lua_State* L = published_.load()) lua_sethook(L, interruptHook, LUA_MASKCALL | LUA_MASKCOUNT, 1);
}

bool CorvelNativeImpl::doString(const char* chunk) {
  int top = lua_gettop(state_);
  if (luaL_loadstring(state_, chunk) != 0 || lua_pcall(state_, 0, LUA_MULTRET, 0) != 0) {
    lua_settop(state_, top);
    return false;
  }
  return true;
}

void CorvelNativeImpl::requireModule(const std::string& name) {
  int top = lua_gettop(state_);
  // Every forwarded call requires preload; the compiled chunk is kept per
  // name in the registry so that it is compiled once, not once per call.
  static const char* const kChunkCache = "halvix.requireChunks";
  lua_getfield(state_, LUA_REGISTRYINDEX, kChunkCache);
  if (!lua_istable(state_, -1)) {
    lua_pop(state_, 1);
    lua_newtable(state_);
    lua_pushvalue(state_, -1);
    lua_setfield(state_, LUA_REGISTRYINDEX, kChunkCache);
  }
  lua_getfield(state_, -1, name.c_str());
  if (!lua_isfunction(state_, -1)) {
    lua_pop(state_, 1);
    std::string chunk = "__TEMP_OBJECT__ = require('" + name + "')";
    if (luaL_loadstring(state_, chunk.c_str()) == 0) {
      lua_pushvalue(state_, -1);
      lua_setfield(state_, -3, name.c_str());
    }
  }
  if (lua_isfunction(state_, -1)) lua_pcall(state_, 0, 0, 0);
  lua_settop(state_, top);  // drops the cache and an error message
  lua_getglobal(state_, "__TEMP_OBJECT__");
  lua_pushnil(state_);
  lua_setglobal(state_, "__TEMP_OBJECT__");
}

bool CorvelNativeImpl::setPackagePath(const std::string& pattern) {
  std::string chunk = "package.path='" + escapeLuaString(pattern) + ";'..package.path";
  return doString(chunk.c_str());
}

void CorvelNativeImpl::preloadCModule(const char* name, lua_CFunction opener) {
  sdk::preloadCModule(state_, name, opener);
}

namespace {

struct PreloadContext {
  CorvelNativeImpl* engine;
  const unsigned char* blob;
  std::size_t length;
  bool loaded;
};

int preloadBytesProtected(lua_State* L) {
  auto* ctx = static_cast<PreloadContext*>(lua_touserdata(L, 1));
  lua_settop(L, 0);
  ctx->engine->requireModule("zlib");
  lua_getfield(L, -1, "decompress");
  if (!lua_isfunction(L, -1)) {
    ctx->loaded = false;
    return 0;
  }
  lua_pushlstring(L, reinterpret_cast<const char*>(ctx->blob), ctx->length);
  if (lua_pcall(L, 1, 1, 0) != 0) {
    return luaL_error(L, "luaPreloadBytes failed: call zlib.decompress() failed, msg=%s", lua_tostring(L, -1));
  }
  std::size_t size = 0;
  const char* bytes = lua_tolstring(L, -1, &size);
  if (!bytes) return luaL_error(L, "luaPreloadBytes failed: call zlib.decompress() failed, msg=%s", "no data");
  std::size_t nameLength = 0;
  while (nameLength < size && bytes[nameLength] != '\0') ++nameLength;
  std::string name(bytes, nameLength);
  const char* code = nameLength < size ? bytes + nameLength + 1 : bytes + size;
  std::size_t codeLength = nameLength < size ? size - nameLength - 1 : 0;
  int status = luaL_loadbuffer(L, code, codeLength, name.c_str());
  if (status != 0) {
    return luaL_error(L, "luaPreloadBytes failed: call luaL_loadbuffer() failed, on %s, code=%d, msg=%s",
                      name.c_str(), status, lua_tostring(L, -1));
  }
  lua_pcall(L, 0, 1, 0);  // status deliberately unexamined: a raised error becomes the module value
  lua_setglobal(L, "_TEMP_PRELOAD_MOD_");
  std::string chunk = "package.loaded['" + name + "']=_TEMP_PRELOAD_MOD_";
  ctx->engine->doString(chunk.c_str());
  ctx->engine->doString("_TEMP_PRELOAD_MOD_=nil");
  ctx->loaded = true;
  return 0;
}

}  // namespace

bool CorvelNativeImpl::luaPreloadBytes(const unsigned char* blob, std::size_t length) {
  int top = lua_gettop(state_);
  PreloadContext ctx{this, blob, length, false};
  lua_pushcfunction(state_, preloadBytesProtected);
  lua_pushlightuserdata(state_, &ctx);
  if (lua_pcall(state_, 1, 0, 0) != 0) {
    sdkLog(kLuaPrintLevel, "%s\n", lua_tostring(state_, -1));
    ctx.loaded = false;
  }
  lua_settop(state_, top);
  return ctx.loaded;
}

bool CorvelNativeImpl::luaPreloadModules() {
  for (const BuiltinModuleBlob& blob : builtinModuleBlobs()) {
    if (!luaPreloadBytes(blob.data, blob.size)) return false;
  }
  return true;
}

std::optional<std::string> CorvelNativeImpl::prepareState(const StateOptions& options) {
  if (state_) return std::string(kStartLuaEngineFailed);
  state_ = luaL_newstate();
  if (!state_) return std::string(kStartLuaEngineFailed);
  lua_atpanic(state_, silentPanic);
  published_.store(state_);

  if (!pcallFunction(state_, openLibs)) return std::string(kStartLuaEngineFailed);
  lua_pushcfunction(state_, registerNativeModules);
  if (lua_pcall(state_, 0, 0, 0) != 0) {
    sdkLog(kLuaPrintLevel, "registerNativeModules failed: %s\n", errorText(state_, -1).c_str());
    lua_pop(state_, 1);
    return std::string(kStartLuaEngineFailed);
  }

  if (!options.hotDev) {
    if (!luaPreloadModules()) return std::string(kPreloadModulesFailed);
    if (options.installLoader) {
      std::string chunk = "require('setuploader').setupLoader('" +
                          escapeLuaString(options.root + "/" + options.bundleName) + "')";
      if (!doString(chunk.c_str())) return std::string(kSetupLoaderFailed);
    }
  } else {
    setPackagePath(options.root + "/?.lua");
  }

  std::vector<std::string> chunks;
  chunks.push_back("VAR_OSTypeName='windows'");
  if (options.hotDev) {
    chunks.push_back("VAR_LUA_ROOT='" + escapeLuaString(options.root) + "'");
    chunks.push_back("VAR_LUA_LOGROOT='" + escapeLuaString(kHotDevLogRoot) + "'");
  }
  chunks.push_back(std::string("VAR_IS_HOTDEV=") + (options.hotDev ? "true" : "false"));
  chunks.push_back("VAR_DOC_ROOT='" + escapeLuaString(".") + "'");
  chunks.push_back("VAR_LOG_LEVEL=" + std::to_string(logLevel_));
  for (const std::string& chunk : chunks) {
    if (!doString(chunk.c_str())) return std::string(kStartLuaEngineFailed);
  }
  return std::nullopt;
}

std::optional<std::string> CorvelNativeImpl::startApplication() {
  static constexpr const char* kStart =
      "xpcall(function() require('preload').initLuaApp() end, function(err) print('initLuaApp "
      "ERROR:'..tostring(err)); print(debug.traceback()); end)";
  if (!doString(kStart)) return std::string(kStartLuaEngineFailed);
  return std::nullopt;
}

namespace {

struct ForwardContext {
  CorvelNativeImpl* engine;
  CppCallback* callback;
  const std::string* packedCall;
  std::string failure;
};

int forwardProtected(lua_State* L) {
  auto* ctx = static_cast<ForwardContext*>(lua_touserdata(L, 1));
  lua_settop(L, 0);
  ctx->engine->requireModule("preload");
  lua_getfield(L, -1, "forwardPlateCall");  // raises on a missing module, caught by the caller
  if (!lua_isfunction(L, -1)) {
    ctx->failure = "preload.forwardPlateCall() error: no such function";
    return 0;
  }
  ensureCppCallbackMetatable(L);
  pushCppCallback(L, std::move(*ctx->callback));
  lua_pushlstring(L, ctx->packedCall->data(), ctx->packedCall->size());
  if (lua_pcall(L, 2, 0, 0) != 0) ctx->failure = "preload.forwardPlateCall() error:" + errorText(L, -1);
  return 0;
}

}  // namespace

void CorvelNativeImpl::forwardPlateCall(StringsCallback handler, const std::string& packedCall) {
  forwardPlateCall(CppCallback(std::move(handler), nullptr), packedCall);
}

void CorvelNativeImpl::forwardPlateCall(CppCallback&& callback, const std::string& packedCall) {
  int top = lua_gettop(state_);
  ForwardContext ctx{this, &callback, &packedCall, {}};
  lua_pushcfunction(state_, forwardProtected);
  lua_pushlightuserdata(state_, &ctx);
  if (lua_pcall(state_, 1, 0, 0) != 0) ctx.failure = "preload.forwardPlateCall() error:" + errorText(state_, -1);
  lua_settop(state_, top);
  if (!ctx.failure.empty()) sdkLog(kLuaPrintLevel, "%s\n", ctx.failure.c_str());
}

}  // namespace halvix::sdk
