// Runs equivalence.lua with Debian's modules (found by require) and ours
// (preloaded as "ours.md5.core" and "ours.luasql.sqlite3").
#include <cstdio>
#include <memory>
#include <string>

#include <gtest/gtest.h>
#include <lua.hpp>

extern "C" int luaopen_md5_core(lua_State* L);
extern "C" int luaopen_luasql_sqlite3(lua_State* L);

namespace {

struct CloseState {
  void operator()(lua_State* L) const { lua_close(L); }
};

// Returns "" and the script's summary, or the error with a traceback.
std::string runPart(const char* part, std::string* summary) {
  std::unique_ptr<lua_State, CloseState> state(luaL_newstate());
  lua_State* L = state.get();
  luaL_openlibs(L);
  lua_getglobal(L, "package");
  lua_getfield(L, -1, "preload");
  lua_pushcfunction(L, luaopen_md5_core);
  lua_setfield(L, -2, "ours.md5.core");
  lua_pushcfunction(L, luaopen_luasql_sqlite3);
  lua_setfield(L, -2, "ours.luasql.sqlite3");
  lua_settop(L, 0);

  lua_getglobal(L, "debug");
  lua_getfield(L, -1, "traceback");
  if (luaL_loadfile(L, HALVIX_EQUIVALENCE_SCRIPT) != 0) return lua_tostring(L, -1);
  lua_pushstring(L, part);
  if (lua_pcall(L, 1, 1, 2) != 0) return lua_tostring(L, -1);
  *summary = lua_tostring(L, -1);
  return "";
}

class ModuleEquivalence : public ::testing::TestWithParam<const char*> {};

TEST_P(ModuleEquivalence, AnswersAsDebiansModule) {
  std::string summary;
  EXPECT_EQ("", runPart(GetParam(), &summary));
  std::printf("%s: %s\n", GetParam(), summary.c_str());
}

INSTANTIATE_TEST_SUITE_P(Modules, ModuleEquivalence, ::testing::Values("md5", "luasql"));

}  // namespace
