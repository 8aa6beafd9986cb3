// lsdpack: the bundle writer. Its logic is Lua (lsdpack.lua, compiled in as a
// blob like the built-in modules) running in a state built as the host builds
// it, so that it reads bundles with exactly the host's reader.
#include <cstdio>
#include <string>
#include <vector>

#include <lua.hpp>

#include "platform/standard_output.h"
#include "sdk/builtin_modules.h"
#include "sdk/corvel_native_impl.h"

#include "lsdpack_blob.inc"

namespace {

// The reader's diagnostics go to standard error, plainly, and are counted:
// the reader treats a bundle cut short as ending early, which lsdpack must
// report as a failure. Its traces are not shown. make_readable takes these
// globals when it is loaded.
constexpr const char* kPrinters =
    "ReaderDiagnostics = 0\n"
    "function ErrPrint(...)\n"
    "  ReaderDiagnostics = ReaderDiagnostics + 1\n"
    "  local parts = {}\n"
    "  for i = 1, select('#', ...) do parts[i] = tostring((select(i, ...))) end\n"
    "  io.stderr:write('lsdpack: ', table.concat(parts, ','), '\\n')\n"
    "end\n"
    "function DbgPrint() end\n";

}  // namespace

int main(int argc, char** argv) {
  using namespace halvix::sdk;
  // --extract writes a module's bytes, bytecode included, as they are.
  halvix::platform::makeStandardOutputBinary();
  CorvelNativeImpl lua(10);
  StateOptions options;
  options.hotDev = false;
  options.installLoader = false;
  if (auto failure = lua.prepareState(options)) {
    std::fprintf(stderr, "lsdpack: %s\n", failure->c_str());
    return 1;
  }
  if (!lua.doString(kPrinters) || !lua.luaPreloadModules()) {
    std::fprintf(stderr, "lsdpack: %s\n", kPreloadModulesFailed);
    return 1;
  }
  for (const BuiltinModuleBlob& blob : kGeneratedBlobs) {
    if (!lua.luaPreloadBytes(blob.data, blob.size)) {
      std::fprintf(stderr, "lsdpack: cannot load its own Lua code\n");
      return 1;
    }
  }

  lua_State* L = lua.state();
  lua_pushcfunction(L, halvix::sdk::luaTraceback);
  int handler = lua_gettop(L);
  lua.requireModule("lsdpack");
  lua_getfield(L, -1, "main");
  lua_createtable(L, argc, 0);
  for (int i = 1; i < argc; ++i) {
    lua_pushstring(L, argv[i]);
    lua_rawseti(L, -2, i);
  }
  int status = 1;
  if (lua_pcall(L, 1, 1, handler) != 0) {
    const char* message = lua_tostring(L, -1);
    std::fprintf(stderr, "lsdpack: %s\n", message ? message : "(error object is not a string)");
  } else if (lua_isnumber(L, -1)) {
    status = static_cast<int>(lua_tointeger(L, -1));
  }
  std::fflush(stdout);
  return status;
}
