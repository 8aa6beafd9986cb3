#pragma once
// LuaFixture with zsocket loaded and helpers that open loopback connections
// with LuaSocket.
#include <string>

#include "tests/support/lua_fixture.h"

namespace halvix::test {

class ZsocketFixture : public LuaFixture {
 protected:
  void SetUp() override {
    LuaFixture::SetUp();
    ASSERT_LUA(R"LUA(
      zsocket = require('zsocket')
      -- A connected, non-blocking TCP pair on 127.0.0.1 (client, server side).
      function tcppair()
        local srv = assert(socket.tcp())
        assert(srv:bind('127.0.0.1', 0))
        assert(srv:listen(1))
        local _, port = srv:getsockname()
        local c = assert(socket.tcp())
        assert(c:connect('127.0.0.1', port))
        local s = assert(srv:accept())
        srv:close()
        c:settimeout(0)
        s:settimeout(0)
        return c, s
      end
      -- A UDP socket bound to 127.0.0.1 and its port.
      function udpbound()
        local u = assert(socket.udp())
        assert(u:setsockname('127.0.0.1', 0))
        u:settimeout(0)
        local _, port = u:getsockname()
        return u, tonumber(port)
      end
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
