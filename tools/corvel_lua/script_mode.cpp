#include <cstdio>
#include <filesystem>

#include <lua.hpp>

#include "sdk/corvel_native_impl.h"
#include "tools/corvel_lua/corvel_lua.h"

namespace halvix::tools {

namespace {

// The standalone interpreter's `arg`: the script at 0, its arguments from 1,
// the interpreter at -1.
void setArgTable(lua_State* L, const ScriptRun& run) {
  lua_createtable(L, static_cast<int>(run.args.size()), 2);
  lua_pushstring(L, run.program.c_str());
  lua_rawseti(L, -2, -1);
  lua_pushstring(L, run.script.c_str());
  lua_rawseti(L, -2, 0);
  for (std::size_t i = 0; i < run.args.size(); ++i) {
    lua_pushlstring(L, run.args[i].data(), run.args[i].size());
    lua_rawseti(L, -2, static_cast<int>(i + 1));
  }
  lua_setglobal(L, "arg");
}

}  // namespace

int runScript(const ScriptRun& run) {
  sdk::CorvelNativeImpl lua(10);
  sdk::StateOptions options;
  options.hotDev = false;
  options.installLoader = !run.bundle.empty();
  if (options.installLoader) {
    std::filesystem::path bundle = std::filesystem::absolute(run.bundle);
    options.root = bundle.parent_path().string();
    options.bundleName = bundle.filename().string();
  }
  if (auto failure = lua.prepareState(options)) {
    std::fprintf(stderr, "corvel-lua: %s\n", failure->c_str());
    return 1;
  }
  lua_State* L = lua.state();
  setArgTable(L, run);

  lua_pushcfunction(L, halvix::sdk::luaTraceback);
  int handler = lua_gettop(L);
  int status = luaL_loadfile(L, run.script.c_str());
  if (status == 0) {
    for (const std::string& a : run.args) lua_pushlstring(L, a.data(), a.size());
    status = lua_pcall(L, static_cast<int>(run.args.size()), 0, handler);
  }
  if (status != 0) {
    const char* message = lua_tostring(L, -1);
    std::fprintf(stderr, "corvel-lua: %s\n", message ? message : "(error object is not a string)");
    std::fflush(stdout);
    return 1;
  }
  std::fflush(stdout);
  return 0;
}

}  // namespace halvix::tools
