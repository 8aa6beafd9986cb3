#include "sdk/module_registry.h"

#include "modules/registration.h"
#include "platform/sockets_startup.h"
#include "sdk/sdk_log.h"

extern "C" {
int luaopen_lpeg(lua_State* L);
int luaopen_md5_core(lua_State* L);
int luaopen_bit(lua_State* L);
int luaopen_cjson(lua_State* L);
int luaopen_luasql_sqlite3(lua_State* L);
int luaopen_socket_core(lua_State* L);
int luaopen_mime_core(lua_State* L);
int luaopen_lfs(lua_State* L);
}

namespace halvix::sdk {

void preloadCModule(lua_State* L, const char* name, lua_CFunction opener) {
  lua_pushcfunction(L, opener);
  lua_pushstring(L, name);
  lua_call(L, 1, 1);
  lua_getfield(L, LUA_REGISTRYINDEX, "_LOADED");
  if (!lua_istable(L, -1)) {
    lua_pop(L, 1);
    lua_newtable(L);
    lua_pushvalue(L, -1);
    lua_setfield(L, LUA_REGISTRYINDEX, "_LOADED");
  }
  lua_pushvalue(L, -2);
  lua_setfield(L, -2, name);
  lua_pop(L, 2);
}

namespace {

enum class How {
  Preload,         // preloadCModule(name, opener)
  Global,          // opener's table stored as the global `name`
  LuaSqlGlobal,    // global luasql = { sqlite3 = ..., ... }
  Library,         // a function list registered as the library `name`
  Globals,         // each function of a list stored as a global
  Chunk,           // a Lua chunk
  SocketStartup,   // the system's socket library
  Print,           // print = luaPrint
};

struct Row {
  How how;
  const char* name;
  lua_CFunction opener = nullptr;
  const luaL_Reg* functions = nullptr;
  const char* chunk = nullptr;
};

void runChunk(lua_State* L, const char* chunk) {
  if (luaL_loadstring(L, chunk) != 0) lua_error(L);
  lua_call(L, 0, 0);
}

void setGlobalFromOpener(lua_State* L, const char* name, lua_CFunction opener) {
  lua_pushcfunction(L, opener);
  lua_pushstring(L, name);
  lua_call(L, 1, 1);
  lua_setglobal(L, name);
}

// LuaSQL 2.3 registered its drivers into a global table `luasql`; newer
// LuaSQL returns a table holding the driver's functions instead. Keep the old
// shape: luasql is that table, and luasql.sqlite3 is its environment factory.
void registerLuaSql(lua_State* L, lua_CFunction opener) {
  lua_pushcfunction(L, opener);
  lua_pushstring(L, "luasql.sqlite3");
  lua_call(L, 1, 1);
  if (!lua_istable(L, -1)) luaL_error(L, "luasql.sqlite3 did not return a table");
  lua_setglobal(L, "luasql");
}

// luaL_register makes a new closure per entry. A library holds the same
// functions as the globals of the same names (zstr), and an entry that names
// a function twice (zacc's tickstamp and timestamp) holds one function.
void registerLibrary(lua_State* L, const char* name, const luaL_Reg* functions) {
  luaL_register(L, name, functions);
  for (const luaL_Reg* f = functions; f->name; ++f) {
    lua_getglobal(L, f->name);
    if (lua_tocfunction(L, -1) == f->func) {
      lua_setfield(L, -2, f->name);
      continue;
    }
    lua_pop(L, 1);
    for (const luaL_Reg* g = functions; g != f; ++g) {
      if (g->func == f->func) {
        lua_getfield(L, -1, g->name);
        lua_setfield(L, -2, f->name);
        break;
      }
    }
  }
  lua_pop(L, 1);
}

const Row kRows[] = {
    {How::Preload, "lpeg", luaopen_lpeg},
    {How::Preload, "md5.core", luaopen_md5_core},
    {How::Preload, "bit", luaopen_bit},
    {How::Preload, "zsocket", modules::luaopen_zsocket},
    {How::Preload, "cjson", luaopen_cjson},
    {How::Preload, "zacc", modules::luaopen_zacc},
    {How::Globals, nullptr, nullptr, modules::kZstrFunctions},
    {How::Library, "zstr", nullptr, modules::kZstrFunctions},
    {How::Chunk, nullptr, nullptr, nullptr, "package.loaded['zpack']={zpack=zpack,zunpack=zunpack}"},
    {How::LuaSqlGlobal, "luasql", luaopen_luasql_sqlite3},
    {How::Chunk, nullptr, nullptr, nullptr, "package.loaded['luasql.sqlite3']=luasql"},
    {How::SocketStartup, nullptr},
    {How::Global, "socket", luaopen_socket_core},
    {How::Chunk, nullptr, nullptr, nullptr, "package.loaded['socket.core']=socket;package.loaded['socket']=nil"},
    {How::Global, "mime", luaopen_mime_core},
    {How::Chunk, nullptr, nullptr, nullptr, "package.loaded['mime.core']=mime; package.loaded['mime']=nil"},
    {How::Global, "zlib", modules::luaopen_zlib},
    {How::Preload, "lfs", luaopen_lfs},
    {How::Preload, "irpacker", modules::luaopen_irpacker},
    {How::Library, "zacc", nullptr, modules::kZaccFunctions},  // the same list again, into the same table
    {How::Chunk, nullptr, nullptr, nullptr, "package.loaded['zlib']=zlib; "},
    {How::Print, "print"},
};

}  // namespace

int registerNativeModules(lua_State* L) {
  for (const Row& row : kRows) {
    switch (row.how) {
      case How::Preload:
        preloadCModule(L, row.name, row.opener);
        break;
      case How::Global:
        setGlobalFromOpener(L, row.name, row.opener);
        break;
      case How::LuaSqlGlobal:
        registerLuaSql(L, row.opener);
        break;
      case How::Library:
        registerLibrary(L, row.name, row.functions);
        break;
      case How::Globals:
        for (const luaL_Reg* f = row.functions; f->name; ++f) {
          lua_pushcfunction(L, f->func);
          lua_setglobal(L, f->name);
        }
        break;
      case How::Chunk:
        runChunk(L, row.chunk);
        break;
      case How::SocketStartup:
        if (platform::socketsStartup() != 0) return luaL_error(L, "unable to initialize library");
        break;
      case How::Print:
        lua_pushcfunction(L, luaPrint);
        lua_setglobal(L, "print");
        break;
    }
  }
  return 0;
}

}  // namespace halvix::sdk
