#pragma once
// A LuaFixture whose chunks see the zsocket module as the global z, with a
// helper that captures what a chunk prints.
#include "tests/support/lua_fixture.h"

namespace halvix::test {

class ZsocketLuaFixture : public LuaFixture {
 protected:
  void SetUp() override {
    LuaFixture::SetUp();
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
