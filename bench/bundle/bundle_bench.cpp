// Start-up of an application of 200 modules from its bundle (normal mode)
// against the same application as source files (hot-development mode), and
// the cost of one require served from the bundle.
#include <chrono>
#include <cstdlib>
#include <future>
#include <memory>
#include <string>

#include <benchmark/benchmark.h>
#include <lua.hpp>

#include "sdk/app_paths.h"
#include "sdk/corvel_native.h"
#include "sdk/corvel_native_impl.h"
#include "sdk/globals.h"
#include "tests/support/temp_dir.h"

namespace {

using halvix::test::TempDir;
namespace sdk = halvix::sdk;

constexpr int kModules = 200;
constexpr const char* kHotDevTree = sdk::kHotDevAppDir;
constexpr const char* kHotDevClimb = sdk::kHotDevProjectDir;

std::string moduleSource(int i) {
  std::string n = std::to_string(i);
  return "local M = { id = " + n + ", names = {} }\n"
         "local helper = {}\n"
         "for k = 1, 16 do M.names[k] = 'entry' .. k end\n"
         "function helper.scale(x) return x * " + n + " end\n"
         "function M.describe(t)\n"
         "  local parts = {}\n"
         "  for k, v in pairs(t) do parts[#parts + 1] = tostring(k) .. '=' .. tostring(v) end\n"
         "  table.sort(parts)\n"
         "  return table.concat(parts, ',')\n"
         "end\n"
         "function M.compute(a, b)\n"
         "  if a > b then return helper.scale(a - b) end\n"
         "  return helper.scale(b - a) + #M.names\n"
         "end\n"
         "return M\n";
}

// The application: preload.lua requiring every module at initLuaApp, under
// app/ of a scratch folder. Diagnostics are silenced so that output is not timed.
struct App {
  TempDir dir;
  App() {
    std::string preload =
        "if LogLevel_None then LogLevel = LogLevel_None end\n"
        "local M = {}\n"
        "function M.initLuaApp()\n"
        "  for i = 1, " + std::to_string(kModules) + " do require('mods.group' .. (i % 10) .. '.m' .. i) end\n"
        "end\n"
        "function M.onTick() end\n"
        "function M.forwardPlateCall(cb, p) cb(p) end\n"
        "return M\n";
    for (const char* root : {"app", kHotDevTree}) {
      std::string base = std::string(root) + "/";
      dir.write(base + "preload.lua", preload);
      for (int i = 1; i <= kModules; ++i) {
        dir.write(base + "mods/group" + std::to_string(i % 10) + "/m" + std::to_string(i) + ".lua", moduleSource(i));
      }
    }
    std::filesystem::create_directories(dir.path() / kHotDevClimb);
    std::filesystem::create_directories(dir.path() / "lsd");
    std::string command = std::string(HALVIX_BIN_DIR) + "/lsdpack -o " + (dir.path() / "lsd/ls.lsd").string() + " " +
                          (dir.path() / "app").string() + " > /dev/null";
    if (std::system(command.c_str()) != 0) std::abort();
  }
};

App& app() {
  static App instance;
  return instance;
}

void startUp(benchmark::State& state, bool hotDev) {
  App& a = app();
  sdk::setHotDevMode(hotDev);
  sdk::CorvelNative native(sdk::SdkDirectories{a.dir.path().string(), a.dir.path().string()});
  for (auto _ : state) {
    auto done = std::make_shared<std::promise<bool>>();
    auto future = done->get_future();
    auto begin = std::chrono::steady_clock::now();
    native.initSDK(
        [done](std::vector<msgpack::object_handle>& results) { done->set_value(results[0].get().as<bool>()); }, 10,
        "");
    bool ok = future.get();
    auto end = std::chrono::steady_clock::now();
    if (!ok) state.SkipWithError("initSDK failed");
    state.SetIterationTime(std::chrono::duration<double>(end - begin).count());
    native.unInitSDK();
  }
  state.counters["modules"] = kModules;
}

void BM_StartupNormalModeBundle(benchmark::State& state) { startUp(state, false); }
void BM_StartupHotDevSources(benchmark::State& state) { startUp(state, true); }
BENCHMARK(BM_StartupNormalModeBundle)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StartupHotDevSources)->UseManualTime()->Unit(benchmark::kMillisecond);

// The state alone (modules registered, loader installed in normal mode), no
// application started: what normal mode adds before the first require.
void prepare(benchmark::State& state, bool hotDev) {
  App& a = app();
  for (auto _ : state) {
    sdk::CorvelNativeImpl lua(10);
    sdk::StateOptions options;
    options.hotDev = hotDev;
    options.root = (a.dir.path() / (hotDev ? kHotDevTree : "lsd")).string();
    if (lua.prepareState(options)) state.SkipWithError("prepareState failed");
  }
}

void BM_PrepareStateNormalMode(benchmark::State& state) { prepare(state, false); }
void BM_PrepareStateHotDev(benchmark::State& state) { prepare(state, true); }
BENCHMARK(BM_PrepareStateNormalMode)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PrepareStateHotDev)->Unit(benchmark::kMillisecond);

// One require of a module that is not loaded yet, from the bundle or, for
// comparison, from a source file on package.path.
void requireOne(benchmark::State& state, bool fromBundle) {
  App& a = app();
  sdk::CorvelNativeImpl lua(10);
  sdk::StateOptions options;
  options.installLoader = fromBundle;
  options.root = (a.dir.path() / "lsd").string();
  if (lua.prepareState(options)) {
    state.SkipWithError("no state");
    return;
  }
  lua.doString("LogLevel = 0");
  if (!fromBundle) lua.setPackagePath((a.dir.path() / "app/?.lua").string());
  lua_State* L = lua.state();
  luaL_loadstring(L, "package.loaded['mods.group7.m117'] = nil return require('mods.group7.m117')");
  int chunk = luaL_ref(L, LUA_REGISTRYINDEX);
  for (auto _ : state) {
    lua_rawgeti(L, LUA_REGISTRYINDEX, chunk);
    if (lua_pcall(L, 0, 1, 0) != 0) {
      state.SkipWithError(lua_tostring(L, -1));
      break;
    }
    lua_pop(L, 1);
  }
}

void BM_RequireFromBundle(benchmark::State& state) { requireOne(state, true); }
void BM_RequireFromSourceFile(benchmark::State& state) { requireOne(state, false); }
BENCHMARK(BM_RequireFromBundle)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RequireFromSourceFile)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
