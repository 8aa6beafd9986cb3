#include "tools/corvel_lua/bundle_mode.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <lua.hpp>

#include "sdk/corvel_native.h"
#include "sdk/corvel_native_impl.h"
#include "sdk/globals.h"
#include "tools/corvel_lua/corvel_lua.h"
#include "tools/corvel_lua/scratch_root.h"

namespace halvix::tools {

namespace {

namespace fs = std::filesystem;

int usage() {
  std::fprintf(stderr,
               "usage: corvel-lua --bundle FILE [--seconds S] [--call HEX]...\n"
               "       corvel-lua --bundle FILE SCRIPT [ARG...]\n");
  return 1;
}

void writeLine(const std::string& line) {
  std::string text = line + "\n";
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

struct InitOutcome {
  std::mutex mutex;
  std::condition_variable changed;
  bool reported = false;
};

int runActivation(const fs::path& bundle, double seconds, const std::vector<std::string>& callsHex) {
  std::vector<std::string> calls;
  for (const std::string& hex : callsHex) {
    std::string bytes;
    if (!parseHex(hex, bytes)) {
      std::fprintf(stderr, "corvel-lua: --call needs hexadecimal bytes, got '%s'\n", hex.c_str());
      return 1;
    }
    calls.push_back(std::move(bytes));
  }

  // Normal mode finds the application in "lsd" below the current directory:
  // a scratch directory stands in for it, with "lsd" linking to FILE's folder.
  std::unique_ptr<ScratchRoot> scratch;
  try {
    scratch = std::make_unique<ScratchRoot>(bundle.parent_path(), "lsd");
  } catch (const std::exception& e) {
    std::fprintf(stderr, "corvel-lua: %s\n", e.what());
    return 1;
  }

  sdk::setHotDevMode(false);
  sdk::CorvelNative native(sdk::SdkDirectories{scratch->path().string(), "/"});

  auto outcome = std::make_shared<InitOutcome>();
  native.initSDK(
      [outcome](std::vector<msgpack::object_handle>& results) {
        bool ok = results.size() == 2 && results[0].get().as<bool>();
        std::string message = results.size() == 2 ? results[1].get().as<std::string>() : "";
        writeLine(ok ? "initSDK: true" : "initSDK: false " + message);
        std::lock_guard<std::mutex> lock(outcome->mutex);
        outcome->reported = true;
        outcome->changed.notify_all();
      },
      10, bundle.filename().string());

  native.startLooper(nullptr);
  for (const std::string& call : calls) {
    native.forwardPlateCall(
        [](const std::vector<std::string>& answers) { writeLine("answer: " + toHex(answers.front())); }, call);
  }

  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  native.stopLooper(nullptr);
  {
    std::unique_lock<std::mutex> lock(outcome->mutex);
    outcome->changed.wait_for(lock, std::chrono::seconds(30), [&] { return outcome->reported; });
  }
  native.unInitSDK();
  writeLine("ticks: " + std::to_string(native.tickCount()));
  return 0;
}

int traceback(lua_State* L) {
  const char* message = lua_tostring(L, 1);
  if (!message) message = lua_pushfstring(L, "(error object is a %s value)", luaL_typename(L, 1));
  lua_getglobal(L, "debug");
  lua_getfield(L, -1, "traceback");
  lua_pushstring(L, message);
  lua_pushinteger(L, 2);
  lua_call(L, 2, 1);
  return 1;
}

int runScript(const fs::path& bundle, const std::string& program, const std::string& script,
              const std::vector<std::string>& args) {
  sdk::CorvelNativeImpl engine(10);
  sdk::StateOptions options;
  options.hotDev = false;
  options.root = bundle.parent_path().string();
  options.bundleName = bundle.filename().string();
  if (auto failure = engine.prepareState(options)) {
    std::fprintf(stderr, "corvel-lua: %s\n", failure->c_str());
    return 1;
  }
  lua_State* L = engine.state();
  lua_createtable(L, static_cast<int>(args.size()), 2);
  lua_pushstring(L, program.c_str());
  lua_rawseti(L, -2, -1);
  lua_pushstring(L, script.c_str());
  lua_rawseti(L, -2, 0);
  for (std::size_t i = 0; i < args.size(); ++i) {
    lua_pushlstring(L, args[i].data(), args[i].size());
    lua_rawseti(L, -2, static_cast<int>(i + 1));
  }
  lua_setglobal(L, "arg");

  lua_pushcfunction(L, traceback);
  int handler = lua_gettop(L);
  int status = luaL_loadfile(L, script.c_str());
  if (status == 0) {
    for (const std::string& a : args) lua_pushlstring(L, a.data(), a.size());
    status = lua_pcall(L, static_cast<int>(args.size()), 0, handler);
  }
  std::fflush(stdout);
  if (status != 0) {
    const char* message = lua_tostring(L, -1);
    std::fprintf(stderr, "corvel-lua: %s\n", message ? message : "(error object is not a string)");
    return 1;
  }
  return 0;
}

bool parseSeconds(const char* text, double& seconds) {
  char* end = nullptr;
  seconds = std::strtod(text, &end);
  return end != text && *end == '\0' && seconds >= 0 && seconds < 1e6;
}

}  // namespace

int runBundle(int argc, char** argv) {
  if (argc < 3) return usage();
  fs::path bundle = fs::absolute(argv[2]);
  if (argc > 3 && std::strncmp(argv[3], "--", 2) != 0) {
    std::vector<std::string> args(argv + 4, argv + argc);
    return runScript(bundle, argv[0], argv[3], args);
  }
  double seconds = 1.0;
  std::vector<std::string> calls;
  for (int i = 3; i < argc; ++i) {
    if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) {
      if (!parseSeconds(argv[++i], seconds)) return usage();
    } else if (std::strcmp(argv[i], "--call") == 0 && i + 1 < argc) {
      calls.push_back(argv[++i]);
    } else {
      return usage();
    }
  }
  return runActivation(bundle, seconds, calls);
}

}  // namespace halvix::tools
