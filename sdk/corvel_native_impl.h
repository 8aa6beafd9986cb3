#pragma once
// The Lua side of one activation: owns the LuaJIT state, builds it for the
// application, starts the application and runs Lua code for the rest of the
// SDK. Created on the platform thread; its state is created and used only on
// the SDK worker thread, except for interrupt().
#include <atomic>
#include <optional>
#include <string>

#include <lua.hpp>

#include "sdk/cpp_callback.h"
#include "sdk/result_report.h"

namespace halvix::sdk {

inline constexpr const char* kStartLuaEngineFailed = "initSDK failed: start LuaEngine failed.";
inline constexpr const char* kPreloadModulesFailed = "initSDK failed: impl.luaPreloadModules failed.";
inline constexpr const char* kSetupLoaderFailed = "initSDK failed: setup loader failed.";

// What shapes a Lua state of the host.
struct StateOptions {
  bool hotDev = false;
  std::string root;            // the application directory
  std::string bundleName = "ls.lsd";
  bool installLoader = true;   // normal mode: set up the bundle loader (the built-in
                               // modules are preloaded either way)
};

class CorvelNativeImpl {
 public:
  explicit CorvelNativeImpl(int logLevel);
  ~CorvelNativeImpl();
  CorvelNativeImpl(const CorvelNativeImpl&) = delete;
  CorvelNativeImpl& operator=(const CorvelNativeImpl&) = delete;

  // The start-up short of the application's initLuaApp: creates the state,
  // registers every module, installs the bundle loader in normal mode and
  // defines the host's globals. Returns the failure message.
  std::optional<std::string> prepareState(const StateOptions& options);

  // Runs initLuaApp of preload; its errors are printed by the chunk itself.
  std::optional<std::string> startApplication();

  bool doString(const char* chunk);
  void requireModule(const std::string& name);
  bool setPackagePath(const std::string& pattern);
  void preloadCModule(const char* name, lua_CFunction opener);
  bool luaPreloadBytes(const unsigned char* blob, std::size_t length);
  // Preloads the built-in modules (base.MessagePack, make_readable,
  // setuploader) in order; false at the first that fails.
  bool luaPreloadModules();

  // Calls preload.forwardPlateCall(callback object, packedCall). A failure is
  // logged and the call dropped; the handler is then never called.
  void forwardPlateCall(StringsCallback handler, const std::string& packedCall);
  void forwardPlateCall(CppCallback&& callback, const std::string& packedCall);

  // From any thread: makes the Lua code running now, and any run later,
  // raise at its next instruction or call, so that a worker stuck in the
  // application returns. Compiled traces may not look at the hook.
  void interrupt();

  int logLevel() const { return logLevel_; }
  lua_State* state() const { return state_; }

 private:
  int logLevel_;
  lua_State* state_ = nullptr;
  // state_ as the platform thread may read it for interrupt().
  std::atomic<lua_State*> published_{nullptr};
};

// The text as the body of a single-quoted Lua string: backslashes and the
// quote are escaped, and so is every control character, so that no text
// (a bundle name from the Dart side, a folder with a quote in its name) can
// end the string. Ordinary paths come back unchanged but for doubled
// backslashes.
std::string escapeLuaString(const std::string& text);

// A message handler for lua_pcall that adds a traceback to the error text,
// for the tools that run scripts in a host-built state.
int luaTraceback(lua_State* L);

}  // namespace halvix::sdk
