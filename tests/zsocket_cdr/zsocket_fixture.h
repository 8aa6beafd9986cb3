#pragma once
// A LuaFixture whose chunks see the zsocket module as the global z.
#include "modules/registration.h"
#include "tests/support/lua_fixture.h"

namespace halvix::test {

class ZsocketFixture : public LuaFixture {
 protected:
  void SetUp() override {
    LuaFixture::SetUp();
    // TEMPORARY until the module's registration row lands.
    lua_getglobal(L(), "package");
    lua_getfield(L(), -1, "preload");
    lua_getfield(L(), -1, "zsocket");
    if (lua_isnil(L(), -1)) {
      lua_pushcfunction(L(), modules::luaopen_zsocket);
      lua_setfield(L(), -3, "zsocket");
    }
    lua_pop(L(), 3);
    ASSERT_LUA("z = require('zsocket')");
  }

  // Runs code while capturing standard output; returns what was printed.
  std::string printed(const std::string& code) {
    testing::internal::CaptureStdout();
    const std::string error = run(code);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ("", error);
    return out;
  }
};

}  // namespace halvix::test
