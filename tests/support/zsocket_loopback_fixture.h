#pragma once
// A LuaFixture whose chunks see the zsocket module as the global zsocket,
// with helpers that open loopback sockets with LuaSocket (tcppair, udpbound),
// make test bytes (bytes) and expose a socket pair's descriptors (A, B).
#include <string>

#include "tests/support/lua_fixture.h"
#include "tests/support/lua_loopback.h"

namespace halvix::test {

class ZsocketLoopbackFixture : public LuaFixture {
 protected:
  void SetUp() override {
    LuaFixture::SetUp();
    ASSERT_LUA(kLuaLoopbackHelpers);
    ASSERT_LUA(R"LUA(
      zsocket = require('zsocket')
      function bytes(n, seed)
        local t = {}
        for k = 1, n do t[k] = string.char((k * 31 + (seed or 0)) % 256) end
        return table.concat(t)
      end
    )LUA");
  }

  // Makes the two descriptors of a socket pair visible as globals A and B.
  void exposePair(int a, int b) { ASSERT_LUA("A, B = " + std::to_string(a) + ", " + std::to_string(b)); }
};

}  // namespace halvix::test
